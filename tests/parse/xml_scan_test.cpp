#include "parse/xml_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using tabulon::xml::Tag;

// Every tag of text as "<name|attributes|flags", flags: c closing, s self-closed.
std::vector<std::string> tags(std::string_view text) {
  std::vector<std::string> out;
  Tag tag;
  std::size_t pos = 0;
  while (tabulon::xml::nextTag(text, pos, tag)) {
    EXPECT_LT(tag.begin, tag.end);
    EXPECT_EQ(text[tag.begin], '<');
    // Just past '>', or before the '<' that ends a damaged tag.
    EXPECT_TRUE(text[tag.end - 1] == '>' || text[tag.end] == '<') << text;
    std::string flags = std::string(tag.closing ? "c" : "") + (tag.selfClosing ? "s" : "");
    out.push_back(std::string(tag.name) + "|" + std::string(tag.attributes) + "|" + flags);
    pos = tag.end;
  }
  return out;
}

TEST(XmlScan, NextTagReadsNamesAttributesAndKinds) {
  struct Case {
    std::string_view text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"<a>x</a>", {"a||", "a||c"}},
      {"<x:c r=\"A1\"/><x:v>1</x:v >", {"x:c| r=\"A1\"|s", "x:v||", "x:v| |c"}},
      {"<t/><t xml:space='preserve'/>", {"t||s", "t| xml:space='preserve'|s"}},
      // '>' and "/>" inside quoted values do not end the tag
      {"<a b=\"x>y\" c='/>'>", {"a| b=\"x>y\" c='/>'|"}},
      {"<a b = \"1>2\" >", {"a| b = \"1>2\" |"}},
      // a stray quote outside a value does not swallow the rest
      {"<a it's>text</a>", {"a| it's|", "a||c"}},
      // comments, processing instructions, CDATA and declarations are skipped
      {"<?xml version=\"1.0\"?><!-- <b> --><a/>", {"a||s"}},
      {"<![CDATA[<b>]]><a/>", {"a||s"}},
      {"<!DOCTYPE x [<!ENTITY e \"<b>\">]><a/>", {"a||s"}},
      // a '<' ends a damaged tag, even inside a quoted value
      {"<a b=\"x<c/>", {"a| b=\"x|", "c||s"}},
      {"<a b <c/>", {"a| b |", "c||s"}},
      {"</a <c/>", {"a| |c", "c||s"}},
      // '=' ends a name as white space does
      {"<a=x>", {"a|=x|"}},
      // a lone '<' in damaged text is not a tag
      {"1 < 2 <a/>", {"a||s"}},
      {"<>x</>", {}},
      // a tag, comment or value cut off by the end of text is not returned
      {"<a/><b", {"a||s"}},
      {"<a/><b c=\"x>", {"a||s"}},
      {"<a/><!-- <b/>", {"a||s"}},
      {"<a/><", {"a||s"}},
      {"<a/></", {"a||s"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(tags(c.text), c.expected) << c.text;
}

TEST(XmlScan, NextElementMatchesLocalNameOnly) {
  const std::string_view text = "<sheets><x:sheet name=\"A\"/><sheetPr/></sheets>";
  Tag tag;
  ASSERT_TRUE(tabulon::xml::nextElement(text, 0, "sheet", tag));
  EXPECT_EQ(tag.name, "x:sheet");
  EXPECT_EQ(tag.localName, "sheet");
  EXPECT_FALSE(tabulon::xml::nextElement(text, tag.end, "sheet", tag));
}

TEST(XmlScan, AttributeMatchesWholeNames) {
  struct Case {
    std::string_view attributes;
    std::string_view name;
    const char* expected;  // nullptr: absent
  };
  const Case cases[] = {
      {" r=\"A1\" s=\"3\" t=\"s\"", "s", "3"},
      {" t=\"s\" s=\"3\" r=\"A1\"", "r", "A1"},
      {" spans=\"1:3\" s='2'", "s", "2"},
      {" spans=\"1:3\"", "s", nullptr},
      {" xr:uid=\"{X}\"", "uid", nullptr},
      {" xr:uid=\"{X}\" uid=\"u\"", "uid", "u"},
      {" r:id=\"rId1\"", "id", nullptr},
      {" name = 'A' ", "name", "A"},
      {"\n\tname\n=\n\"A B\"", "name", "A B"},
      {" a=\"name='x'\" name=\"y\"", "name", "y"},  // a name inside another value
      {" name=\"\"", "name", ""},
      {" checked name=\"y\"", "name", "y"},        // a bare word before it
      {" name=unquoted other=1", "name", "unquoted"},
      {" name=\"cut off", "name", "cut off"},
      {" name=", "name", ""},
      {"", "name", nullptr},
      {" =\"x\"", "", nullptr},
  };
  for (const Case& c : cases) {
    std::string_view value = "untouched";
    const bool found = tabulon::xml::attribute(c.attributes, c.name, value);
    EXPECT_EQ(found, c.expected != nullptr) << c.attributes;
    if (c.expected != nullptr) {
      EXPECT_EQ(value, c.expected) << c.attributes;
    }
  }
}

TEST(XmlScan, PrefixedAttributeNeedsAPrefix) {
  struct Case {
    std::string_view attributes;
    const char* expected;
  };
  const Case cases[] = {
      {" name=\"A\" r:id=\"rId1\"", "rId1"},
      {" ns3:id='rId7' name=\"A\"", "rId7"},
      {" id=\"plain\" r:id=\"rId2\"", "rId2"},
      {" id=\"plain\"", nullptr},
      {" :id=\"empty prefix\"", nullptr},
      {" r:idx=\"rId2\" sheetId=\"2\"", nullptr},
  };
  for (const Case& c : cases) {
    std::string_view value;
    const bool found = tabulon::xml::prefixedAttribute(c.attributes, "id", value);
    EXPECT_EQ(found, c.expected != nullptr) << c.attributes;
    if (c.expected != nullptr) {
      EXPECT_EQ(value, c.expected) << c.attributes;
    }
  }
}

TEST(XmlScan, FindEndTag) {
  struct Case {
    std::string_view text;
    std::size_t expected;  // npos: absent
  };
  constexpr std::size_t npos = std::string_view::npos;
  const Case cases[] = {
      {"abc</si>", 8},
      {"abc</x:si>", 10},
      {"abc</si \n>", 10},
      {"</sis></si>", 11},
      {"</rsi></si>", 11},
      {"</si", npos},
      {"</si x", npos},
      {"</x/:si>", npos},  // '/' ends a name here as everywhere
      {"</si/>", npos},
      {"<si>", npos},
      {"", npos},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tabulon::xml::findEndTag(c.text, 0, "si"), c.expected) << c.text;
  EXPECT_EQ(tabulon::xml::findEndTag("</si></si>", 1, "si"), 10u);
}

}  // namespace
