#include "parse/shared_strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Table = std::vector<std::string>;

TEST(SharedStrings, OneEntryPerItem) {
  struct Case {
    std::string part;
    Table expected;
  };
  const Case cases[] = {
      {"<si><t>abc</t></si><si><t/></si>"
       "<si><r><rPr><b/></rPr><t>ab</t></r><r><t xml:space=\"preserve\"> cd</t></r></si>",
       {"abc", "", "ab cd"}},
      // decoded once, after the text is cut out
      {"<si><t>x &amp; y</t></si><si><t>1 &lt; 2</t></si><si><t>&amp;lt;</t></si>"
       "<si><t>&#65;&#x42;&#10;&bogus;&quot;</t></si>",
       {"x & y", "1 < 2", "&lt;", "AB\n&bogus;\""}},
      // an empty run adds nothing to the others
      {"<si><r><t/></r><r><t>kept</t></r></si><si><t xml:space=\"preserve\"/><t>x</t></si>",
       {"kept", "x"}},
      // items without runs still take their index
      {"<si></si><si/><si><rPh/></si><si><t>3</t></si>", {"", "", "", "3"}},
      // a raw '>' in a later run's text; '>' inside an attribute value
      {"<si><r><t>a</t></r><r><t xml:space='preserve'>b > c</t></r></si>"
       "<si><t a=\"x>y\">z</t></si>",
       {"ab > c", "z"}},
      // phonetic readings are not part of the text
      {"<si><t>\xE6\x9D\xB1\xE4\xBA\xAC</t><rPh sb=\"0\" eb=\"2\"><t>\xE3\x81\xA8</t></rPh>"
       "<phoneticPr fontId=\"1\"/></si>",
       {"\xE6\x9D\xB1\xE4\xBA\xAC"}},
      // runs are elements named exactly t, any prefix
      {"<x:sst><x:si><x:r><x:t>p</x:t></x:r><x:t>q</x:t></x:si></x:sst>", {"pq"}},
      {"<si><tx>no</tx><t>yes</t><text>no</text></si>", {"yes"}},
      // Raw line ends are normalised as an XML reader does; a kept carriage
      // return is written as a reference.
      {"<si>\n  <t>line 1\r\nline 2\rline 3</t>\n</si>", {"line 1\nline 2\nline 3"}},
      {"<si><t>a&#13;\nb</t></si>", {"a\r\nb"}},
      // CDATA is taken literally, comments are dropped
      {"<si><t><![CDATA[a&amp;<b>]]><!-- note --></t></si>", {"a&amp;<b>"}},
      {"<sst count=\"2\" uniqueCount=\"2\"></sst>", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(getSharedStrings(c.part), c.expected) << c.part;
}

TEST(SharedStrings, DamagedParts) {
  struct Case {
    std::string part;
    Table expected;
  };
  const Case cases[] = {
      // an item without </si> takes the rest of the text and is the last
      {"<si><t>a</t></si><si><t>b</t><si><t>c</t></si>", {"a", "bc"}},
      {"<si><t>a</t></si><si><t>b</t>", {"a", "b"}},
      // a run without </t> takes the rest of its item
      {"<si><t>a</t><t>b &amp; c</si><si><t>d</t></si>", {"ab & c", "d"}},
      {"<si><t>abc", {"abc"}},
      {"<si><t>abc</t", {"abc</t"}},
      // a cut off phonetic reading drops the rest of its item only
      {"<si><t>a</t><rPh><t>x</t></si><si><t>b</t></si>", {"a", "b"}},
      {"<si", {}},
      {"<si><t", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(getSharedStrings(c.part), c.expected) << c.part;
}

TEST(SharedStrings, UnreliableDeclaredCount) {
  EXPECT_EQ(getSharedStrings("<sst uniqueCount=\"4000000000\"><si><t>a</t></si></sst>"), Table{"a"});
  EXPECT_EQ(getSharedStrings("<sst uniqueCount=\"0\"><si><t>a</t></si><si/></sst>"),
            (Table{"a", ""}));
}

TEST(SharedStrings, CollectRunsOnInlineStringContent) {
  EXPECT_EQ(tabulon::collectRuns("<t>plain</t>"), "plain");
  EXPECT_EQ(tabulon::collectRuns("<r><t>a &amp; </t></r><r><rPr/><t xml:space=\"preserve\"> b</t></r>"),
            "a &  b");
  EXPECT_EQ(tabulon::collectRuns("<t/>"), "");
  EXPECT_EQ(tabulon::collectRuns(""), "");
  EXPECT_EQ(tabulon::collectRuns("<t>open"), "open");
  // the content of an inline string carries no </si>: it is not an end here
  EXPECT_EQ(tabulon::collectRuns("<t>a</t></si><t>b</t>"), "ab");
}

TEST(SharedStrings, LargeTable) {
  std::string part = "<sst uniqueCount=\"100000\">";
  for (int i = 0; i < 100000; ++i) part += "<si><t>s" + std::to_string(i) + "</t></si>";
  part += "</sst>";
  const Table table = getSharedStrings(part);
  ASSERT_EQ(table.size(), 100000u);
  EXPECT_EQ(table.front(), "s0");
  EXPECT_EQ(table[4242], "s4242");
  EXPECT_EQ(table.back(), "s99999");
}

}  // namespace
