// Writes the seed corpus of every fuzz target: small workbooks built with
// the tests' archive writer, their parts, and a few damaged variants.
//   fuzz_make_seeds OUTPUT_DIR   ->   OUTPUT_DIR/<target>/<seed>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/compound_file.h"
#include "support/xlsx_builder.h"

namespace {

namespace fs = std::filesystem;
using tabulon::test::compoundFile;
using tabulon::test::Member;
using tabulon::test::Workbook;
using tabulon::test::worksheet;
using tabulon::test::zipBytes;

fs::path root;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(root / target);
  std::ofstream(root / target / name, std::ios::binary) << bytes;
}

// Rows with shared strings, numbers, dates, inline strings, booleans and
// errors, some rows without a number and cells without a reference.
std::string sampleRows() {
  return "<row r=\"1\" spans=\"1:4\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
         "<c r=\"D1\" s=\"1\"><v>44197.5</v></c></row>"
         "<row r=\"2\"><c r=\"A2\"><v>3.25</v></c><c r=\"B2\" t=\"inlineStr\"><is><t>in;line</t></is></c>"
         "<c r=\"C2\" t=\"b\"><v>1</v></c><c r=\"D2\" t=\"e\"><v>#N/A</v></c></row>"
         "<row><c><v>7</v></c><c t=\"str\"><v>a&amp;b&#x20AC;</v></c></row>"
         "<row r=\"5\"><c r=\"C5\" s=\"2\"><v>60</v></c><c r=\"A5\" t=\"s\"><v>2</v></c></row>"
         "<x:row r=\"6\"><x:c r=\"B6\"><x:v>-1e3</x:v></x:c></x:row>";
}

const std::string kStrings =
    "<si><t>zero</t></si><si><r><t>o</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">ne </t></r>"
    "<rPh><t>reading</t></rPh></si><si><t>a;b&#13;c</t></si><si/>";
const std::string kXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\" applyNumberFormat=\"1\"/><xf numFmtId=\"22\"/>";

std::vector<std::pair<std::string, Workbook>> workbooks() {
  std::vector<std::pair<std::string, Workbook>> books;
  Workbook plain;
  plain.sheets = {{"Sheet1", worksheet("A1:D6", sampleRows())}};
  plain.sharedStrings = kStrings;
  plain.cellXfs = kXfs;
  books.push_back({"plain", plain});

  Workbook two = plain;
  two.date1904 = true;
  two.sheets.push_back({"Second & <last>", worksheet("B2", "<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>")});
  books.push_back({"two-sheets-1904", two});

  Workbook bare;
  bare.sheets = {{"S", worksheet("", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c></row>")}};
  books.push_back({"no-tables", bare});

  Workbook wide;
  wide.sheets = {{"W", worksheet("A1:XFD1048576", "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>")}};
  books.push_back({"wide-dimension", wide});

  // Inflates to more than one piece of the stream: blocks are cut across
  // pieces. Repetitive, so the archive stays small.
  std::string many;
  for (int i = 0; i < 60000; ++i) many += "<row><c><v>1</v></c><c t=\"s\"><v>0</v></c></row>";
  Workbook big;
  big.sheets = {{"Big", worksheet("A1:B60000", many)}};
  big.sharedStrings = "<si><t>s</t></si>";
  books.push_back({"big-sheet", big});
  return books;
}

// ASCII text as UTF-16, without a byte-order mark.
std::string utf16(const std::string& ascii, bool little) {
  std::string out;
  for (char c : ascii) out += little ? std::string{c, '\0'} : std::string{'\0', c};
  return out;
}

// Workbooks of other encodings, other formats, and of a text much larger
// than the archive, for the library target.
void foreignSeeds() {
  Workbook book;
  book.sheets = {{"S", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><worksheet><sheetData>" + sampleRows() +
                           "</sheetData></worksheet>"}};
  book.sharedStrings = kStrings;
  for (bool little : {true, false}) {
    std::vector<Member> members = book.members();
    for (Member& m : members)
      if (m.name == "xl/worksheets/sheet1.xml") m.bytes = utf16(m.bytes, little);
    put("library", little ? "utf16le-sheet.xlsx" : "utf16be-sheet.xlsx", zipBytes(members));
    put("text_encoding", little ? "utf16le" : "utf16be", utf16(book.sheets[0].second, little));
  }
  Workbook latin;
  latin.sheets = {{"S", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><worksheet><sheetData>"
                        "<row r=\"1\"><c r=\"1\" t=\"inlineStr\"><is><t>S\xE9rie</t></is></c></row>"
                        "</sheetData></worksheet>"}};
  put("library", "latin1-sheet.xlsx", zipBytes(latin.members()));
  put("text_encoding", "latin1", latin.sheets[0].second);
  put("text_encoding", "windows-1252", "<?xml version='1.0' encoding='windows-1252'?><a>\x80\x81\x9F</a>");
  put("text_encoding", "unknown", "<?xml version=\"1.0\" encoding=\"x-none\"?><a/>");
  put("text_encoding", "utf8-mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>");

  // One long string used by many cells: the text is many times the archive.
  Workbook uses;
  std::string cells;
  for (int i = 0; i < 400; ++i) cells += "<c t=\"s\"><v>0</v></c>";
  uses.sheets = {{"S", worksheet("A1:XFD1", "<row r=\"1\">" + cells + "</row>")}};
  uses.sharedStrings = "<si><t>" + std::string(8192, 'w') + "</t></si>";
  put("library", "string-uses.xlsx", zipBytes(uses.members()));

  const std::string encrypted = compoundFile({"EncryptionInfo", "EncryptedPackage"});
  put("library", "encrypted.xlsx", encrypted);
  put("file_kind", "encrypted", encrypted);
  put("file_kind", "xls", compoundFile({"Workbook", "a", "b", "c", "d", "e"}));
  put("file_kind", "doc", compoundFile({"WordDocument"}));
  put("file_kind", "html", "<!DOCTYPE html><table><tr><td>1</td></tr></table>");
  put("file_kind", "csv", "a,b\n1,2\n");
  put("library", "xlsb.xlsx", zipBytes({Member("xl/workbook.bin", "\x83\x01")}));
  put("library", "ods.xlsx", zipBytes({Member("mimetype", "application/vnd.oasis.opendocument.spreadsheet", true)}));
}

// The members' bytes after a change: the archive target's damaged seeds.
std::string damaged(std::vector<Member> members, void (*change)(std::vector<Member>&)) {
  change(members);
  return zipBytes(members);
}

void archiveAndLibrarySeeds() {
  for (const auto& [name, book] : workbooks()) {
    const std::string bytes = zipBytes(book.members());
    put("library", name + ".xlsx", bytes);
    put("archive", name + ".zip", bytes);
  }
  const std::vector<Member> members = workbooks()[0].second.members();
  std::vector<Member> stored = members;
  for (Member& m : stored) m.stored = true;
  put("library", "stored.xlsx", zipBytes(stored));
  put("archive", "stored.zip", zipBytes(stored));
  put("library", "bad-crc.xlsx", damaged(members, [](std::vector<Member>& m) { m[2].crc32 = 1; }));
  put("library", "big-claim.xlsx", damaged(members, [](std::vector<Member>& m) { m[4].uncompressedSize = 0x7fffffff; }));
  put("archive", "lying-sizes.zip", damaged(members, [](std::vector<Member>& m) {
        m[1].compressedSize = 3;
        m[2].uncompressedSize = 0xffffffff;
      }));
  put("archive", "method-12.zip", damaged(members, [](std::vector<Member>& m) { m[0].method = 12; }));
  put("archive", "encrypted.zip", damaged(members, [](std::vector<Member>& m) { m[0].flags = 1; }));
  std::string truncated = zipBytes(members);
  put("archive", "truncated.zip", truncated.substr(0, truncated.size() / 2));
  put("archive", "folders.zip", zipBytes({{"a/b/c.txt", "c"}, {"a/", "", true}, {"a/b/d.txt", "dd"},
                                          {"same", "1"}, {"same", "2"}, {"x/same", "3", true}}));
  put("archive", "empty.zip", zipBytes({}));
}

void partSeeds() {
  for (const auto& [name, book] : workbooks()) {
    for (const Member& m : book.members()) {
      if (m.name == "xl/workbook.xml") put("sheet_list", name, m.bytes);
      if (m.name.ends_with(".rels")) put("relationships", name + "-" + fs::path(m.name).stem().string(), m.bytes);
      if (m.name == "xl/sharedStrings.xml") put("shared_strings", name, m.bytes);
      if (m.name == "xl/styles.xml") put("styles", name, m.bytes);
      if (m.name.starts_with("xl/worksheets/")) put("xml_scan", name + "-" + fs::path(m.name).stem().string(), m.bytes);
    }
  }
  put("sheet_list", "prefixed",
      "<x:workbook xmlns:x=\"s\" xmlns:ns3=\"r\"><x:workbookPr date1904=\" true \"/><x:sheets>"
      "<x:sheet name=\"A &amp; B\" sheetId=\"1\" ns3:id=\"rId1\"/><x:sheet name='q\"uote' ns3:id='rId2'/>"
      "<x:sheet sheetId=\"3\"/></x:sheets></x:workbook>");
  put("relationships", "odd-targets",
      "xl/worksheets/sheet1.xml\n<Relationships><Relationship Id=\"rId1\" Type=\"a/worksheet\" "
      "Target=\"../../x/./y//z\"/><Relationship Id=\"r2\" Target=\"/abs/p.xml\" TargetMode=\" External\"/>"
      "<Relationship Id='r3' Type='t' Target='a&amp;b%20c'/></Relationships>");
  put("shared_strings", "runs",
      "<sst uniqueCount=\"999999999\"><si><t><![CDATA[<raw>&amp;]]></t></si><si><r><t>a</t></r><!-- c -->"
      "<r><t>b&#x1F600;&#0;&bogus;</t></r></si><x:si><x:t>p</x:t></x:si><si><t>unclosed");
  put("styles", "nested",
      "<styleSheet><cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs><cellXfs count=\"1000000\">"
      "<xf numFmtId=\"14\"><alignment/></xf><xf numFmtId=' 22'/><xf><xf numFmtId=\"15\"/></cellXfs></styleSheet>");
  put("xml_scan", "specials",
      "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e \"<>\">]><!-- <no> --><a x='>' y=\"<\" r:id=\"1\">"
      "<![CDATA[<not/>]]><b/><c r = 'A1' ></c ></a><x:d/></x:d>");
}

void valueSeeds() {
  int n = 0;
  for (const char* ref : {"A1:D10", "C7", "A1:XFD1048576", "A1:A2000000000", "YYY1", "YYZ1", "ZZZ99",
                          "a1:b2", "A:C", "1:3", "B", "A18446744073709551616", "\xc3\x84" "1", ""})
    put("references", "ref-" + std::to_string(++n), ref);

  const double serials[] = {0.0, 1.0, 59.999988, 60.0, 61.0, 44197.75, 2958465.999999, 2958466.0,
                            -1.0, -693594.0, 1e300, 0.5, 1.0 / 3.0, 2958465.9999999999};
  std::string bytes(reinterpret_cast<const char*>(serials), sizeof serials);
  put("serial_date", "serials", bytes);
  const int fields[] = {31, 12, 1999, 23, 59, 59};
  put("serial_date", "fields", std::string(reinterpret_cast<const char*>(fields), sizeof fields));

  put("xml_text", "named", "a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos; &amp;amp; &nbsp;");
  put("xml_text", "numeric", "&#65;&#x42;&#x1F600;&#0;&#xD800;&#x110000;&#99999999999;&#x;&#;&#65");
  put("xml_text", "plain", "no references here");
}

void rowSeeds() {
  using tabulon::fuzz::tableHeader;
  const std::string dated = tableHeader(false, 4, 8, 3, 0b110);
  put("row_parser", "sample", dated + "<sheetData>" + sampleRows() + "</sheetData>");
  put("row_parser", "wide-1904", tableHeader(true, 17575, 3, 2, 0b10) + sampleRows());
  put("row_parser", "edge-numbers", tableHeader(false, 2, 8, 1, 1) +
      "<row r=\"2147483647\"><c r=\"A1\" t=\"s\"><v>2147483647</v></c></row><row r=\"-3\"><c><v>1</v></c></row>"
      "<row r=\"0\"><c r=\"B0\" s=\"-1\"><v>5</v></c></row><row r=\"99999999999\"><c r=\"ZZZ1\"><v>x</v></c></row>"
      "<row><c r=\"A\" t=\"s\"><v>-1</v></c><c r=\"C9\" s=\"2147483647\"><v>1</v></c><c r=\"");
  put("row_parser", "iso-dates", tableHeader(false, 3, 3, 2, 0b10) +
      "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2017-03-16</v></c><c r=\"B1\" t=\"d\" s=\"1\">"
      "<v>2023-12-31T23:59:59.5+02:00</v></c><c r=\"C1\" t=\"d\"><v>9999-12-31T23:59:59.9Z</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"d\"><v>10:10:10</v></c><c r=\"B2\" t=\"d\"><v>2017-02-29</v></c>"
      "<c r=\"C2\" t=\"str\"><v>a;b_x000D_\nc</v></c></row>");
  put("sheet_render", "sample", dated + worksheet("A1:D6", sampleRows()));
  put("sheet_render", "repeated-rows", tableHeader(false, 0, 2, 0, 0) + worksheet("A1:B3",
      "<row r=\"3\"><c r=\"B3\"><v>1</v></c></row><row r=\"3\"><c r=\"A3\"><v>2</v></c></row>"
      "<row><c><v>3</v></c></row><row r=\"1\"/><row r=\"2000000\"><c><v>far</v></c></row>"
      "<row r=\"3\"><c r=\"B3\"><v>4</v></c><c r=\"C3\"><v>5</v></c></row>"
      "<row r=\"2000000\"><c r=\"B2000000\"><v>away</v></c></row>"));
  // An even first byte reads the text once, an odd one repeated past the
  // index's windows.
  put("structural_scan", "sample", "<" + worksheet("A1:D6", sampleRows()));
  put("structural_scan", "repeated", "\x01" + sampleRows());
  put("structural_scan", "quotes-and-edits",
      "\x01<row r=\"1\"><c r=\"A1\" t='s' s=\"1\"><v>a&amp;b;c\r</v></c><c r=\"B1\" t=\"inlineStr\">"
      "<is><t>x\"y</t></is></c><c r=\"C1\" x=\"<\"><v>1</v></c><!-- <row> --><![CDATA[</row>]]></row>");
  put("sheet_render", "comment-after-rows", tableHeader(true, 1, 1, 1, 1) +
      worksheet("A1", "<row r=\"1\"><c r=\"A1\" s=\"0\"><v>1</v></c></row><!-- tail -->"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds OUTPUT_DIR\n";
    return 2;
  }
  root = argv[1];
  archiveAndLibrarySeeds();
  foreignSeeds();
  partSeeds();
  valueSeeds();
  rowSeeds();
  return 0;
}
