#include "parse/xml_lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "parse/row_scan.h"
#include "parse/xml_scan.h"

namespace {

namespace lexer = tabulon::lexer;

TEST(XmlLexer, SpecialMarkupEndsAtItsOwnCloser) {
  struct Case {
    std::string_view text;
    lexer::Markup kind;
    std::string_view content;  // between opener and closer (or to the end)
    long after;                // offset past the closer, -1: cut off
  };
  using M = lexer::Markup;
  const Case cases[] = {
      {"<!-- a > b -->x", M::Comment, " a > b ", 14},
      {"<!-->-->x", M::Comment, ">", 8},  // the closer is looked for after the opener
      {"<![CDATA[<a>]]]>x", M::CData, "<a>]", 16},
      {"<?pi a > b?>x", M::ProcessingInstruction, "pi a > b", 12},
      {"<!DOCTYPE x [<!ENTITY e \"<>\">]>x", M::Declaration, "DOCTYPE x [<!ENTITY e \"<>\">]", 31},
      {"<!ELEMENT e 'a>b'>x", M::Declaration, "ELEMENT e 'a>b'", 18},
      {"<!-- open", M::Comment, " open", -1},
      {"<![CDATA[open", M::CData, "open", -1},
      {"<!DOCTYPE x [", M::Declaration, "DOCTYPE x [", -1},
      {"<!", M::Declaration, "", -1},
  };
  for (const Case& c : cases) {
    const char* begin = c.text.data();
    const char* end = begin + c.text.size();
    ASSERT_TRUE(lexer::opensSpecialMarkup(begin, end)) << c.text;
    const lexer::Special s = lexer::readSpecialMarkup(begin, end);
    EXPECT_EQ(s.kind, c.kind) << c.text;
    EXPECT_EQ(std::string_view(s.content, static_cast<std::size_t>(s.contentEnd - s.content)), c.content) << c.text;
    EXPECT_EQ(s.after == nullptr ? -1 : s.after - begin, c.after) << c.text;
  }
  EXPECT_EQ(lexer::markupAt("<a>", "<a>" + 3), lexer::Markup::Element);
}

TEST(XmlLexer, SpecialMarkupIsSeenAfterTheFirstByteOnly) {
  const std::string_view cases[] = {"x<!--", "x<?", "<a/><!x"};
  for (std::string_view text : cases)
    EXPECT_TRUE(lexer::holdsSpecialMarkup(text.data(), text.data() + text.size())) << text;
  // The range starts where the caller knows it is outside markup, so a mark
  // on its first byte has no '<' before it inside the range.
  const std::string_view none[] = {"", "!x?", "a ! b <a> ?", "<"};
  for (std::string_view text : none)
    EXPECT_FALSE(lexer::holdsSpecialMarkup(text.data(), text.data() + text.size())) << text;
}

// The part reader and the row reader end every tag of a sheet at the same
// place, read the same attribute values and agree on self-closed tags.
TEST(XmlLexer, PartAndRowReadersAgreeOnEveryTag) {
  const std::string_view cases[] = {
      "<c r=\"A1\" s=\"2\" t=\"s\">",
      "<c t='s' r = \"B2\" >",
      "<c r=\"A1\"/>",
      "<c r=A1 t=s>",
      "<c r=\"x>y\" t=\"/>\">",
      "<c it's r=\"C3\">",
      "<c \"stray > quote\" r=\"D4\">",
      "<c r=\"A1\" broken <v>",       // a damaged tag ends before '<'
      "<c r=\"A<1\">",               // even inside a value
      "<c=x r=\"E5\">",              // '=' ends a name
      "<c/ r=\"F6\">",
      "<c r=\"G7\" r=\"H8\">",         // the first of a repeated name
      "<x:c xr:r=\"Z9\" r=\"A9\">",
      "<c bare r=\"B9\"/>",
      "</c >",
      "</c junk>",
  };
  for (std::string_view text : cases) {
    tabulon::xml::Tag part;
    ASSERT_TRUE(tabulon::xml::nextTag(text, 0, part)) << text;
    tabulon::structural::Index index(text.data(), text.data() + text.size());
    tabulon::rowscan::RawTag row;
    ASSERT_TRUE(tabulon::rowscan::readTag(index, text.data(), row)) << text;
    EXPECT_EQ(static_cast<std::size_t>(row.end - text.data()), part.end) << text;
    EXPECT_EQ(row.selfClosing, part.selfClosing) << text;
    EXPECT_EQ(row.closing, part.closing) << text;
    std::string_view r;
    EXPECT_EQ(tabulon::xml::attribute(part.attributes, "r", r), row.hasR) << text;
    if (row.hasR) {
      EXPECT_EQ(r, row.r) << text;
    }
  }
}

}  // namespace
