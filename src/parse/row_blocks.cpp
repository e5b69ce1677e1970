#include "parse/row_blocks.h"

#include <algorithm>
#include <cstring>

#include "parse/xml_lexer.h"

namespace tabulon {

namespace {

// Length of the closing row tag at text[lt] ("</row>", "</x:row >"), or 0.
// Names and end tags end where the row reader ends them (xml_lexer.h).
std::size_t rowEndTagAt(std::string_view text, std::size_t lt) {
  const char* base = text.data();
  const char* end = base + text.size();
  if (lt + 1 >= text.size() || base[lt + 1] != '/') return 0;
  const char* name = base + lt + 2;
  const char* nameStop = lexer::nameEnd(name, end);
  if (lexer::localName(name, nameStop) != "row") return 0;
  const char* stop = lexer::endTagStop(nameStop, end);
  if (stop >= end) return 0;
  return static_cast<std::size_t>((*stop == '>' ? stop + 1 : stop) - (base + lt));
}

// The first row end tag that begins at or after from, by text alone.
std::size_t firstRowEndTag(std::string_view text, std::size_t from) {
  std::size_t pos = from;
  while (pos < text.size()) {
    const void* hit = std::memchr(text.data() + pos, '<', text.size() - pos);
    if (hit == nullptr) break;
    std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (std::size_t length = rowEndTagAt(text, lt)) return lt + length;
    pos = lt + 1;
  }
  return std::string_view::npos;
}

// The first row end at or after from, scanning from start and stepping over
// comments, CDATA sections, declarations and processing instructions.
std::size_t rowEndOutsideMarkup(std::string_view text, std::size_t start, std::size_t from) {
  const char* base = text.data();
  const char* end = base + text.size();
  const char* p = base + start;
  while (p < end) {
    const char* lt = lexer::findLt(p, end);
    if (lt == end) break;
    if (lexer::opensSpecialMarkup(lt, end)) {
      p = lexer::afterSpecialMarkup(lt, end);
      if (p == nullptr) break;
      continue;
    }
    const auto at = static_cast<std::size_t>(lt - base);
    if (at >= from) {
      if (std::size_t length = rowEndTagAt(text, at)) return at + length;
    }
    p = lt + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::size_t afterRowEnd(std::string_view text, std::size_t start, std::size_t from) {
  std::size_t found = firstRowEndTag(text, from);
  if (found == std::string_view::npos || !lexer::holdsSpecialMarkup(text.data() + start, text.data() + found))
    return found;
  return rowEndOutsideMarkup(text, start, from);
}

std::vector<std::string_view> cutRowBlocks(std::string_view text, unsigned count) {
  if (count == 0) count = 1;
  std::vector<std::string_view> blocks;
  blocks.reserve(count);
  const std::size_t size = text.size();
  const std::size_t step = size / count;
  std::size_t start = 0;
  for (unsigned i = 0; i < count; ++i) {
    std::size_t end = size;
    if (i + 1 < count && start + step < size) end = std::min(size, afterRowEnd(text, start, start + step));
    blocks.push_back(text.substr(start, end - start));
    start = end;
  }
  return blocks;
}

}  // namespace tabulon
