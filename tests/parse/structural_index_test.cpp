#include "parse/structural_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "parse/row_scan.h"

namespace {

using tabulon::structural::ChunkMasks;
using tabulon::structural::Index;
using tabulon::structural::Path;

std::vector<Path> availablePaths() {
  std::vector<Path> paths;
  for (Path p : {Path::Scalar, Path::Sse2, Path::Avx2})
    if (tabulon::structural::available(p)) paths.push_back(p);
  return paths;
}

// Text of the given size mixing the bytes the index marks with others,
// including bytes above 0x7f, whose sign must not matter.
std::string mixedText(std::size_t size, unsigned seed) {
  static const char kBytes[] = "<\"&;\r>'/= \n\tav0\x80\xff\xc3\xbc";
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    text[i] = kBytes[(seed >> 16) % (sizeof kBytes - 1)];
  }
  return text;
}

// Sizes on both sides of a chunk and of the index's window.
const std::size_t kSizes[] = {0, 1, 63, 64, 65, 127, 4095, 4096, 4097, 8191, 8193, 12345};

TEST(StructuralIndex, EveryPathMarksExactlyTheBytesOfEachClass) {
  for (std::size_t size : kSizes) {
    const std::string text = mixedText(size, static_cast<unsigned>(size));
    for (Path path : availablePaths()) {
      std::vector<ChunkMasks> masks((size + 63) / 64);
      tabulon::structural::classify(path, text.data(), size, masks.data());
      for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        const ChunkMasks& m = masks[i / 64];
        const unsigned bit = i % 64;
        ASSERT_EQ((m.lt >> bit) & 1, c == '<' ? 1u : 0u) << nameOf(path) << " byte " << i;
        ASSERT_EQ((m.edit >> bit) & 1, c == '&' || c == ';' || c == '\r' ? 1u : 0u) << nameOf(path) << " byte " << i;
      }
      // Bytes past the end are of no class.
      if (size % 64) {
        const ChunkMasks& last = masks.back();
        EXPECT_EQ((last.lt | last.edit) >> (size % 64), 0u) << nameOf(path);
      }
    }
  }
}

TEST(StructuralIndex, AnswersAsPlainSearchesFromAnyPositionInAnyOrder) {
  for (std::size_t size : kSizes) {
    // Sparse marks, so that answers often lie chunks or windows ahead.
    std::string text(size, 'x');
    for (std::size_t i = 7; i < size; i += i % 3 ? 997 : 13) text[i] = '<';
    for (std::size_t i = 2000; i < size; i += 2503) text[i] = ';';
    const char* begin = text.data();
    const char* end = begin + size;
    std::vector<std::size_t> order;
    for (std::size_t at = 0; at <= size; at += 37) order.push_back(at);
    for (std::size_t at = size + 1; at-- > 0;)
      if (at % 61 == 0) order.push_back(at);  // backwards: the window is worked out again
    for (Path path : availablePaths()) {
      Index index(begin, end, path);
      for (std::size_t at : order) {
        const char* p = begin + at;
        const char* lt = p;
        while (lt < end && *lt != '<') ++lt;
        ASSERT_EQ(index.nextLt(p), lt) << nameOf(path) << " size " << size << " at " << at;
        bool edited = false;
        bool editedBefore = false;
        for (const char* r = p; r < lt; ++r) editedBefore |= *r == ';';
        ASSERT_EQ(index.valueEnd(p, edited), lt) << nameOf(path) << " size " << size << " at " << at;
        ASSERT_EQ(edited, editedBefore) << nameOf(path) << " size " << size << " at " << at;
        for (std::size_t length : {0u, 1u, 64u, 700u, 5000u}) {
          const char* q = begin + std::min(size, at + length);
          bool edit = false;
          for (const char* r = p; r < q; ++r) edit |= *r == ';';
          ASSERT_EQ(index.holdsEdit(p, q), edit) << nameOf(path) << " size " << size << " at " << at;
        }
      }
    }
  }
}

// Rows and cells as the row scan hands them over, written down; a cell out
// of column order asks for its row to be read again, once per row.
struct Recorder {
  std::string events;
  std::uint32_t last = 0;
  bool again = false;
  void startRow(bool numbered, std::string_view r) {
    events += (numbered ? "R" : "r") + std::string(r) + "|";
    last = 0;
    again = false;
  }
  bool cell(const tabulon::rowscan::CellInput& c) {
    if (c.position < last && !again) {
      again = true;
      events += "again|";
      return false;
    }
    last = c.position;
    events += std::to_string(c.position) + "," + std::string(c.type) + "," + std::string(c.style) + "," +
              std::string(c.value) + "," + std::string(c.inlineContent) + (c.valueEdited ? ",e" : "") + "|";
    return true;
  }
  void finishRow() { events += "F\n"; }
};

TEST(StructuralIndex, EveryPathReadsTheSameRows) {
  // Rows in the forms the reader has straight and general paths for,
  // repeated past several windows so that tags and values straddle them.
  const std::string forms[] = {
      "<row r=\"1\" spans=\"1:3\"><c r=\"A1\" s=\"1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>a;b&amp;c</v></c></row>",
      "<x:row r='2'><x:c r='B2' t='str'><x:v>q\"uote</x:v></x:c><x:c r = \"A2\" ><v> 7 </v></x:c></x:row>",
      "<row><c t=\"inlineStr\"><is><t>in &lt; line</t></is></c><c r=\"C3\"><f>1+1</f><v>2\r\n</v></c></row>",
      "<row r=\"4\"><!-- <row r=\"99\"> --><c r=\"A4\" x=\"<\"><v>damaged</v></c><?pi </row>?></row>",
      "<row r=\"5\"><c r=\"D5\"/><c r=\"E5\" t=\"b\"><v>1</v></c><![CDATA[</row>]]></row>",
  };
  std::string sheet = "<worksheet><dimension ref=\"A1:E5\"/><sheetData>";
  for (int i = 0; sheet.size() < 20000; ++i) sheet += forms[i % 5];
  sheet += "</sheetData></worksheet>";
  // Also every cut of the sheet near the first window's end, where a tag
  // or value runs to the end of the text.
  std::vector<std::string_view> texts = {sheet};
  for (std::size_t cut = 4050; cut < 4150; ++cut) texts.push_back(std::string_view(sheet).substr(0, cut));
  for (std::string_view text : texts) {
    Recorder scalar;
    tabulon::rowscan::scanRows(text, scalar, Path::Scalar);
    if (text.size() == sheet.size()) {
      EXPECT_NE(scalar.events.find("again|"), std::string::npos);  // A2 after B2
      EXPECT_NE(scalar.events.find("1,s,1,0,|"), std::string::npos);
      EXPECT_NE(scalar.events.find("2,,,a;b&amp;c,,e|"), std::string::npos);
    }
    for (Path path : availablePaths()) {
      Recorder other;
      tabulon::rowscan::scanRows(text, other, path);
      ASSERT_EQ(other.events, scalar.events) << nameOf(path) << " on " << text.size() << " bytes";
    }
  }
}

TEST(StructuralIndex, TheEnvironmentChoosesThePath) {
  // Run with TABULON_SCAN set (ctest does so for each path); without it the
  // best path is taken.
  const char* asked = std::getenv("TABULON_SCAN");
  const Path chosen = tabulon::structural::chosen();
  EXPECT_TRUE(tabulon::structural::available(chosen));
  if (asked == nullptr) {
    EXPECT_EQ(chosen, availablePaths().back());
  } else {
    for (Path p : {Path::Scalar, Path::Sse2, Path::Avx2}) {
      if (nameOf(p) == asked) {
        EXPECT_TRUE(chosen == p || (!tabulon::structural::available(p) && chosen < p)) << asked;
      }
    }
  }
}

}  // namespace
