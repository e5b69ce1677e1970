// Files that are no workbook this library reads are refused with a failure
// that names what they are: from the first bytes, a compound file's
// directory, or a zip archive's members.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

void put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

void put16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A compound file of 512-byte sectors: sector 0 the allocation table, then
// the directory (a root entry and one stream entry per name, four entries
// a sector, the sectors chained), and no stream data.
std::string compoundFile(const std::vector<std::string>& names) {
  const std::size_t entries = names.size() + 1;
  const std::size_t dirSectors = (entries + 3) / 4;
  std::string file(512 * (2 + dirSectors), '\0');
  file.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  put16(file, 24, 0x3E);
  put16(file, 26, 3);
  put16(file, 28, 0xFFFE);
  put16(file, 30, 9);
  put16(file, 32, 6);
  put32(file, 44, 1);                     // one allocation sector
  put32(file, 48, 1);                     // the directory starts at sector 1
  put32(file, 56, 4096);
  put32(file, 60, 0xFFFFFFFE);
  put32(file, 68, 0xFFFFFFFE);
  for (std::size_t i = 0; i < 109; ++i) put32(file, 76 + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
  const std::size_t fat = 512;
  for (std::size_t i = 0; i < 128; ++i) put32(file, fat + 4 * i, 0xFFFFFFFF);
  put32(file, fat, 0xFFFFFFFD);
  for (std::size_t s = 0; s < dirSectors; ++s)
    put32(file, fat + 4 * (1 + s), s + 1 < dirSectors ? static_cast<std::uint32_t>(2 + s) : 0xFFFFFFFE);
  std::vector<std::string> all = {"Root Entry"};
  all.insert(all.end(), names.begin(), names.end());
  for (std::size_t e = 0; e < all.size(); ++e) {
    const std::size_t at = 1024 + 128 * e;
    for (std::size_t c = 0; c < all[e].size(); ++c) put16(file, at + 2 * c, static_cast<unsigned char>(all[e][c]));
    put16(file, at + 64, static_cast<std::uint16_t>(2 * (all[e].size() + 1)));
    file[at + 66] = e == 0 ? 5 : 2;
    put32(file, at + 116, 0xFFFFFFFE);
  }
  return file;
}

struct Case {
  const char* what;
  std::string bytes;
  int open;        // openExcel's result
  int code;        // lastError's code
  const char* says;
};

TEST(FileKinds, EachRefusalNamesWhatTheFileIs) {
  const std::vector<Case> cases = {
      {"encrypted workbook", compoundFile({"\x06" "DataSpaces", "EncryptionInfo", "EncryptedPackage"}), -2,
       TABULON_ENCRYPTED, "password-protected; save it without a password or decrypt it first"},
      {"encrypted, directory over two sectors",
       compoundFile({"a", "b", "c", "d", "e", "EncryptedPackage", "EncryptionInfo"}), -2, TABULON_ENCRYPTED,
       "password-protected"},
      {"legacy .xls", compoundFile({"Workbook", "\x05SummaryInformation"}), -2, TABULON_LEGACY_XLS, ".xls"},
      {"older .xls", compoundFile({"Book"}), -2, TABULON_LEGACY_XLS, ".xls"},
      {"a .doc", compoundFile({"WordDocument", "1Table"}), -2, TABULON_NOT_A_SPREADSHEET, "(.doc)"},
      {"compound file with a damaged directory", compoundFile({}).substr(0, 600), -2, TABULON_NOT_A_SPREADSHEET,
       "compound document"},
      {".xlsb", zipBytes({Member("[Content_Types].xml", "<Types/>"), Member("xl/workbook.bin", "\x83\x01")}), -1,
       TABULON_BINARY_XLSB, ".xlsb"},
      {".ods", zipBytes({Member("mimetype", "application/vnd.oasis.opendocument.spreadsheet", true),
                         Member("content.xml", "<office:document-content/>")}),
       -1, TABULON_OPENDOCUMENT, ".ods"},
      {".odt", zipBytes({Member("mimetype", "application/vnd.oasis.opendocument.text", true)}), -1,
       TABULON_NOT_A_SPREADSHEET, "OpenDocument file of another kind"},
      {".docx", zipBytes({Member("word/document.xml", "<w:document/>")}), -1, TABULON_NOT_A_SPREADSHEET, ".docx"},
      {"CSV", "name,value\n\"a\",1\n", -2, TABULON_NOT_A_SPREADSHEET, "not a workbook: a text file"},
      {"PDF", "%PDF-1.7\n\x80\x81", -2, TABULON_NOT_A_SPREADSHEET, "PDF"},
      {"HTML saved as .xls", "\xEF\xBB\xBF<!DOCTYPE html><html><table></table></html>", -2,
       TABULON_NOT_A_SPREADSHEET, "HTML"},
      {"XML spreadsheet of 2003",
       "<?xml version=\"1.0\"?>\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>", -2,
       TABULON_NOT_A_SPREADSHEET, "2003"},
      // Not told apart: a damaged zip archive and unknown binary stay "not a zip".
      {"damaged zip", std::string("PK\x03\x04", 4) + std::string(60, '\0'), -2, TABULON_NOT_A_ZIP, ""},
      {"binary noise", std::string("\x01\x02\x03\x00\xFE", 5), -2, TABULON_NOT_A_ZIP, ""},
      // A zip without a workbook part that is nothing else either: a part is missing.
      {"zip of other parts", zipBytes({Member("xl/other.xml", "<x/>")}), -1, TABULON_MISSING_PART,
       "xl/workbook.xml"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.write("book.xlsx", c.bytes);
    EXPECT_EQ(openExcel(path.c_str()), c.open) << c.what;
    int code = -1;
    const std::string text = lastError(&code);
    EXPECT_EQ(code, c.code) << c.what << ": " << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << c.what << ": " << text;
    if (c.code != TABULON_NOT_A_ZIP && c.code != TABULON_MISSING_PART) {
      EXPECT_EQ(text.rfind(path + ": ", 0), 0u) << c.what << ": the text names the file: " << text;
    }
    closeExcel();
  }
}

}  // namespace
}  // namespace tabulon::test
