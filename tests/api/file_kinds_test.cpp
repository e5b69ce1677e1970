// Files that are no workbook this library reads are refused with a failure
// that names what they are: from the first bytes, a compound file's
// directory, or a zip archive's members.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/compound_file.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

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
