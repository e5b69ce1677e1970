#include "parse/relationships.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(Relationships, ScanReadsEveryRelationship) {
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
      "<Relationship Target='/xl/Shared&amp;Strings.xml' Id='rId1'"
      " Type='http://purl.oclc.org/ooxml/officeDocument/relationships/sharedStrings'/>"
      "<pr:Relationship TargetMode = \"External\" Target=\"http://example.com/a?b=1&amp;c=2\""
      " Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\""
      " Id=\"rId3\"></pr:Relationship>"
      "</Relationships>";
  const std::vector<tabulon::Relationship> found = tabulon::scanRelationships(rels);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].id, "rId2");
  EXPECT_EQ(tabulon::relationshipKind(found[0].type), "worksheet");
  EXPECT_EQ(found[0].target, "worksheets/sheet2.xml");
  EXPECT_FALSE(found[0].external);
  EXPECT_EQ(found[1].id, "rId1");
  EXPECT_EQ(tabulon::relationshipKind(found[1].type), "sharedStrings");
  EXPECT_EQ(found[1].target, "/xl/Shared&Strings.xml");
  EXPECT_FALSE(found[1].external);
  EXPECT_EQ(found[2].id, "rId3");
  EXPECT_EQ(found[2].target, "http://example.com/a?b=1&c=2");
  EXPECT_TRUE(found[2].external);
  EXPECT_TRUE(tabulon::scanRelationships("<Relationships/>").empty());
}

TEST(Relationships, Kind) {
  EXPECT_EQ(tabulon::relationshipKind(
                "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"),
            "officeDocument");
  EXPECT_EQ(tabulon::relationshipKind("http://purl.oclc.org/ooxml/officeDocument/relationships/styles"),
            "styles");
  EXPECT_EQ(tabulon::relationshipKind("styles"), "styles");
  EXPECT_EQ(tabulon::relationshipKind(""), "");
}

TEST(Relationships, ResolveTarget) {
  struct Case {
    std::string_view source, target, expected;
  };
  const Case cases[] = {
      {"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl/workbook.xml", "/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl/workbook.xml", "../x.xml", "x.xml"},
      {"xl/workbook.xml", "./styles.xml", "xl/styles.xml"},
      {"xl/workbook.xml", "../../../x.xml", "x.xml"},
      {"xl/workbook.xml", "a/./b/../c.xml", "xl/a/c.xml"},
      {"xl/workbook.xml", "worksheets//sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl/workbook.xml", "Sheet%201.xml", "xl/Sheet%201.xml"},
      {"workbook.xml", "worksheets/sheet1.xml", "worksheets/sheet1.xml"},
      {"", "xl/workbook.xml", "xl/workbook.xml"},
      {"", "/xl/workbook.xml", "xl/workbook.xml"},
      {"a/b/c/part.xml", "../d.xml", "a/b/d.xml"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tabulon::resolveTarget(c.source, c.target), c.expected)
        << c.source << " + " << c.target;
}

}  // namespace
