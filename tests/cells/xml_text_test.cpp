#include "cells/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DecodeXml, DecodesPredefinedEntitiesAndCharacterReferencesOnce) {
  struct Case {
    std::string raw, expected;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"1 &lt; 2", "1 < 2"},
      {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
      {"&amp;lt;", "&lt;"},
      {"&amp;amp;", "&amp;"},
      {"A&amp;B", "A&B"},
      {"&#65;&#x41;&#x4a;&#x4A;", "AAJJ"},
      {"&#233;", "\xC3\xA9"},
      {"&#x20AC;", "\xE2\x82\xAC"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      {"&#0065;", "A"},
      {"x&#10;y", "x\ny"},
  };
  for (const Case& c : cases) EXPECT_EQ(tabulon::decodeXml(c.raw), c.expected) << c.raw;
}

TEST(DecodeXml, KeepsUnknownAndMalformedReferencesAsWritten) {
  const std::string kept[] = {
      "&", "a & b", "trailing &", "&amp", "&lt", "&nbsp;", "&AMP;", "&unknown;",
      "&#;", "&#x;", "&#65", "&#x41", "&#0;", "&#x0;", "&#xD800;", "&#xDFFF;",
      "&#x110000;", "&#1114112;", "&#99999999999999999999;", "&#xFFFFFFFFFFFFFFFF41;",
      "&#X41;", "&#x4g;", "&#-65;", "&# 65;", "_x0041_",
  };
  for (const std::string& raw : kept) EXPECT_EQ(tabulon::decodeXml(raw), raw) << raw;
  // A kept reference does not stop later ones from decoding.
  EXPECT_EQ(tabulon::decodeXml("&bad;&lt;&#xD800;&#x41;&"), "&bad;<&#xD800;A&");
  EXPECT_EQ(tabulon::decodeXml("&&amp;"), "&&");
}

TEST(DecodeXml, AppendKeepsWhatIsAlreadyThere) {
  std::string out = "head:";
  tabulon::appendDecodedXml(out, "no entities");
  tabulon::appendDecodedXml(out, "|a&gt;b");
  tabulon::appendDecodedXml(out, std::string_view());
  EXPECT_EQ(out, "head:no entities|a>b");
}

}  // namespace

namespace tabulon {
namespace {

TEST(DecodeXml, NormalisesLineEndsOfLiteralText) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"a\r\nb", "a\nb"},       {"a\rb", "a\nb"},        {"a\r\r\nb", "a\n\nb"},
      {"\r", "\n"},             {"a&#13;\nb", "a\r\nb"}, {"&#13;&#10;", "\r\n"},
      {"x\r\n&amp;\r", "x\n&\n"},
  };
  for (const auto& [raw, expected] : cases) EXPECT_EQ(decodeXml(raw), expected) << raw;
}

}  // namespace
}  // namespace tabulon

#include "cells/text_encoding.h"

namespace tabulon {
namespace {

TEST(TextEncoding, Utf16WithMarkBecomesUtf8) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"\xFF\xFE<\0a\0>\0"s, "<a>"},                     // little end first
      {"\xFE\xFF\0<\0a\0>"s, "<a>"},                     // big end first
      {"\xFF\xFE\xE9\0\xAC\x20"s, "\xC3\xA9\xE2\x82\xAC"},  // U+00E9, U+20AC
      {"\xFF\xFE\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"},  // a surrogate pair
      {"\xFF\xFE\x00\xDE"s, "\xEF\xBF\xBD"},             // a lone low surrogate
      {"\xFF\xFE\x41\0\x42"s, "A\xEF\xBF\xBD"},           // an odd byte at the end
  };
  for (const auto& [utf16, utf8] : cases) {
    EXPECT_TRUE(startsWithUtf16Mark(utf16));
    EXPECT_EQ(utf16ToUtf8(utf16), utf8);
  }
  EXPECT_FALSE(startsWithUtf16Mark("<?xml"));
  EXPECT_FALSE(startsWithUtf16Mark("\xFF"));
}

}  // namespace
}  // namespace tabulon

namespace tabulon {
namespace {

TEST(DecodeCharacterEscapes, SpreadsheetEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"ABC_x000D_\nDEF", "ABC\r\nDEF"},
      {"_x0041__x0062_", "Ab"},
      {"_x005F_x0041_", "_x0041_"},              // a protected literal
      {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},   // a surrogate pair
      {"_xD83D_ alone", "_xD83D_ alone"},        // a lone surrogate stays
      {"_x0000_", "_x0000_"},                    // no NUL in text
      {"_x12G4_ _x123_ _X0041_ a_x", "_x12G4_ _x123_ _X0041_ a_x"},
      {"no escapes", "no escapes"},
  };
  for (const auto& [raw, expected] : cases) {
    std::string text = raw;
    decodeCharacterEscapes(text);
    EXPECT_EQ(text, expected) << raw;
  }
}

}  // namespace
}  // namespace tabulon
