// Parts in other encodings than UTF-8: told from their first bytes and
// transcoded whole.
#include "cells/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "base/failure.h"

namespace tabulon {
namespace {

// ASCII text as UTF-16 of the given order, with a byte-order mark or not.
std::string utf16(const std::string& ascii, bool little, bool mark) {
  std::string out = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (char c : ascii) {
    out += little ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return out;
}

TEST(PartEncoding, ToldFromTheFirstBytes) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>";
  struct Case {
    const char* what;
    std::string head;
    PartEncoding::Kind kind;
    const char* name;
  } cases[] = {
      {"no declaration", "<worksheet/>", PartEncoding::Utf8, ""},
      {"UTF-8 declared", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", PartEncoding::Utf8, ""},
      {"utf-8 in lower case, single quotes", "<?xml version='1.0' encoding='utf-8'?>", PartEncoding::Utf8, ""},
      {"ASCII", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>", PartEncoding::Utf8, ""},
      {"UTF-8 mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>", PartEncoding::Utf8, ""},
      {"UTF-16 declared over one-byte text: the bytes win", decl, PartEncoding::Utf8, ""},
      {"Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", PartEncoding::Named, "ISO-8859-1"},
      {"spaces around =", "<?xml version=\"1.0\" encoding = \"windows-1252\"?>", PartEncoding::Named,
       "windows-1252"},
      {"little-endian with mark", utf16(decl, true, true), PartEncoding::Utf16Little, ""},
      {"little-endian without mark", utf16(decl, true, false), PartEncoding::Utf16Little, ""},
      {"big-endian with mark", utf16(decl, false, true), PartEncoding::Utf16Big, ""},
      {"big-endian without mark", utf16(decl, false, false), PartEncoding::Utf16Big, ""},
      {"empty", "", PartEncoding::Utf8, ""},
  };
  for (const Case& c : cases) {
    const PartEncoding e = partEncoding(c.head);
    EXPECT_EQ(e.kind, c.kind) << c.what;
    EXPECT_EQ(e.name, c.name) << c.what;
    EXPECT_EQ(needsTranscoding(c.head), c.kind != PartEncoding::Utf8) << c.what;
  }
}

TEST(PartEncoding, TranscodedToUtf8) {
  const std::string body = "<si><t>S\xC3\xA9rie</t></si>";  // "Série"
  // UTF-16 of "Série": 'é' is U+00E9.
  std::string le = utf16("<?xml version=\"1.0\"?><si><t>S", true, false) + std::string("\xE9\0", 2) +
                   utf16("rie</t></si>", true, false);
  std::string be = utf16("<?xml version=\"1.0\"?><si><t>S", false, true) + std::string("\0\xE9", 2) +
                   utf16("rie</t></si>", false, false);
  EXPECT_EQ(partToUtf8(le, "p"), "<?xml version=\"1.0\"?>" + body);
  EXPECT_EQ(partToUtf8(be, "p"), "<?xml version=\"1.0\"?>" + body);
  const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><si><t>S\xE9rie</t></si>";
  EXPECT_EQ(partToUtf8(latin, "p"), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + body);
  // The euro sign is 0x80 in windows-1252; 0x81 is no character there.
  const std::string cp = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\x80\x81!";
  EXPECT_EQ(partToUtf8(cp, "p"), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\xE2\x82\xAC\xEF\xBF\xBD!");
  const std::string plain = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body;
  EXPECT_EQ(partToUtf8(plain, "p"), plain);
  // Another spelling of UTF-8 goes through the converter, which copies
  // what is no UTF-8 at all (a five-byte form, an encoded surrogate, a
  // cut sequence); each such byte becomes U+FFFD.
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-?8\"?>";
  EXPECT_EQ(partToUtf8(head + "a\xFB\xAD" "b\xED\xA0\x80" "c\xC3\xA9\xE2\x82", "p"),
            head + "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "c\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(PartEncoding, AnUnknownEncodingIsNamed) {
  try {
    partToUtf8("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><a/>", "xl/worksheets/sheet1.xml");
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), TABULON_UNKNOWN_ENCODING);
    EXPECT_STREQ(failure.what(),
                 "the part xl/worksheets/sheet1.xml is written in the encoding \"x-no-such-charset\", which this "
                 "system cannot read");
  }
}

}  // namespace
}  // namespace tabulon
