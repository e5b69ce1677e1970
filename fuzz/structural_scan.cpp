// The structural index on arbitrary text, every path against the others and
// against the bytes themselves: the same masks, the same answers to the row
// reader's questions, and the same rows and cells read through each path.
// An input whose first byte is odd is repeated past the first window of the
// index, so that its refills and the last, partial chunk are met.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "parse/row_scan.h"
#include "parse/structural_index.h"

namespace {

using tabulon::structural::ChunkMasks;
using tabulon::structural::Index;
using tabulon::structural::Path;

constexpr Path kPaths[] = {Path::Scalar, Path::Sse2, Path::Avx2};

// What the row scan hands its output, written down. A cell out of column
// order asks once for the row to be read again, as the text renderer does.
struct Recorder {
  std::string events;
  bool askedAgain = false;
  std::uint32_t last = 0;

  void put(std::string_view text) {
    events.append(std::to_string(text.size())).push_back(':');
    events.append(text);
  }
  void startRow(bool numbered, std::string_view r) {
    events += numbered ? "R" : "r";
    put(r);
    last = 0;
  }
  bool cell(const tabulon::rowscan::CellInput& c) {
    if (!askedAgain && c.position < last) {
      askedAgain = true;
      events += "again";
      return false;
    }
    last = c.position;
    events += "C" + std::to_string(c.position) + (c.hasValue ? "v" : "") + (c.hasInline ? "i" : "") +
              (c.valueEdited ? "e" : "");
    put(c.type);
    put(c.style);
    put(c.value);
    put(c.inlineContent);
    return true;
  }
  void finishRow() { events += "F"; }
};

bool inClass(char c, std::uint64_t ChunkMasks::*member) {
  if (member == &ChunkMasks::lt) return c == '<';
  return c == '&' || c == ';' || c == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  using fuzz::require;
  std::string text(fuzz::asText(data, size));
  if (size > 0 && (data[0] & 1)) {
    const std::string once = text;
    while (text.size() < 4500) text += once;
  }
  const char* begin = text.data();
  const char* end = begin + text.size();
  const std::size_t chunks = (text.size() + 63) / 64;

  // The plain answers: the next '<' from every position, and the count of edit bytes before every position.
  std::vector<std::size_t> nextLt(text.size() + 1, text.size());
  std::vector<std::size_t> edits(text.size() + 1, 0);
  for (std::size_t i = text.size(); i-- > 0;) {
    nextLt[i] = text[i] == '<' ? i : nextLt[i + 1];
  }
  for (std::size_t i = 0; i < text.size(); ++i) edits[i + 1] = edits[i] + (inClass(text[i], &ChunkMasks::edit) ? 1 : 0);

  std::string firstRows;
  bool first = true;
  for (Path path : kPaths) {
    if (!structural::available(path)) continue;

    // The masks, bit by bit, against the bytes.
    std::vector<ChunkMasks> masks(chunks);
    structural::classify(path, begin, text.size(), masks.data());
    for (std::size_t i = 0; i < chunks * 64; ++i) {
      const char c = i < text.size() ? text[i] : '\0';
      for (auto member : {&ChunkMasks::lt, &ChunkMasks::edit})
        require(((masks[i / 64].*member >> (i % 64)) & 1) == (inClass(c, member) ? 1u : 0u), "a mask bit wrong");
    }

    // The index's answers, from positions spread over the text and in a
    // jumping order (forward, then back), against plain searches.
    Index index(begin, end, path);
    const std::size_t step = text.size() / 97 + 1;
    const std::size_t span = size > 1 ? data[1] % 200 : 0;
    for (std::size_t from = 0; from <= text.size(); from += step) {
      for (std::size_t at : {from, text.size() - from}) {
        const char* p = begin + at;
        require(index.nextLt(p) == begin + nextLt[at], "nextLt differs from a plain search");
        bool edited = false;
        require(index.valueEnd(p, edited) == begin + nextLt[at] && edited == (edits[nextLt[at]] > edits[at]),
                "valueEnd differs from a plain search");
        const std::size_t to = std::min(text.size(), at + span);
        require(index.holdsEdit(p, begin + to) == (edits[to] > edits[at]), "holdsEdit differs from a plain search");
      }
    }

    // The rows and cells.
    Recorder rows;
    rowscan::scanRows(std::string_view(text), rows, path);
    if (first) firstRows = rows.events;
    else require(rows.events == firstRows, "the paths read different rows");
    first = false;
  }
  return 0;
}
