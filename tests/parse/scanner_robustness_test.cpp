// Damaged and truncated parts must never make a scanner read outside its text.
// Run under the address sanitizer build to make such reads fail loudly.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "parse/relationships.h"
#include "parse/shared_strings.h"
#include "parse/sheet_list.h"
#include "parse/styles.h"
#include "parse/xml_scan.h"

namespace {

const std::string kSample =
    "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e \"v\">]><!-- c -->"
    "<x:sst uniqueCount='3'><x:si><x:t xml:space=\"preserve\"> a &amp; b </x:t></x:si>"
    "<si><r><rPr><b/></rPr><t>c&#x41;</t></r><rPh sb=\"0\"><t>d</t></rPh></si><si><t/></si>"
    "<si><t><![CDATA[<e>]]></t></si></x:sst>"
    "<workbookPr date1904 = 'true'/><sheets><sheet name=\"A&amp;B\" r:id=\"rId1\"/>"
    "<x:sheet sheetId='2' name='C'/></sheets>"
    "<Relationship Id=\"rId1\" Type=\"a/worksheet\" Target=\"../w/s.xml\" TargetMode=\"External\"/>"
    "<cellXfs count=\"2\"><xf numFmtId=\"14\"><alignment/></xf><x:xf numFmtId='0'/></cellXfs>";

void scanAll(std::string_view text) {
  tabulon::xml::Tag tag;
  std::size_t pos = 0;
  while (tabulon::xml::nextTag(text, pos, tag)) {
    ASSERT_LT(pos, tag.end);
    ASSERT_LE(tag.end, text.size());
    std::string_view value;
    tabulon::xml::attribute(tag.attributes, "name", value);
    tabulon::xml::prefixedAttribute(tag.attributes, "id", value);
    pos = tag.end;
  }
  tabulon::xml::findEndTag(text, 0, "si");
  getSharedStrings(std::string(text));
  tabulon::collectRuns(text);
  getSheetsNames(std::string(text));
  tabulon::usesDate1904(text);
  for (const tabulon::Relationship& rel : tabulon::scanRelationships(text))
    tabulon::resolveTarget("xl/workbook.xml", rel.target);
  getStyles(text);
}

TEST(ScannerRobustness, EveryPrefixOfAPart) {
  for (std::size_t n = 0; n <= kSample.size(); ++n) {
    // A copy of exactly n bytes, so a read past the end is a read past the buffer.
    const std::string prefix = kSample.substr(0, n);
    scanAll(prefix);
  }
}

TEST(ScannerRobustness, RandomDamage) {
  std::mt19937 random(20240611);
  const std::string_view alphabet = "<>/!?-[]\"'= :&;#xtsi\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text = kSample;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0: text[at] = alphabet[random() % alphabet.size()]; break;
        case 1: text.erase(at, 1 + random() % 12); break;
        default: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
      }
    }
    text.resize(random() % (text.size() + 1));
    scanAll(text);
  }
}

}  // namespace
