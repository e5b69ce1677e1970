#include "parse/row_blocks.h"

#include <algorithm>
#include <cstring>

namespace tabulon {

namespace {

// Length of the closing row tag at text[lt] ("</row>", "</x:row >"), or 0.
std::size_t rowEndTagAt(std::string_view text, std::size_t lt) {
  const char* base = text.data();
  const std::size_t size = text.size();
  if (lt + 1 >= size || base[lt + 1] != '/') return 0;
  std::size_t name = lt + 2, nameEnd = name;
  // A name ends where the row reader ends one: white space, '>', '/', '='
  // or '<'.
  static constexpr char kStops[] = {' ', '\t', '\n', '\r', '>', '/', '=', '<'};
  while (nameEnd < size && std::memchr(kStops, base[nameEnd], sizeof kStops) == nullptr) ++nameEnd;
  std::string_view qualified(base + name, nameEnd - name);
  std::size_t colon = qualified.rfind(':');
  std::string_view local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
  if (local != "row") return 0;
  // The tag ends at its '>', or just before a '<' that comes first: the
  // row reader ends a damaged tag there too.
  std::size_t q = nameEnd;
  while (q < size && base[q] != '>' && base[q] != '<') ++q;
  if (q >= size) return 0;
  return (base[q] == '>' ? q + 1 : q) - lt;
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

// True when a comment, CDATA section, declaration or processing
// instruction may start in text[start, end).
bool mayHoldMarkup(std::string_view text, std::size_t start, std::size_t end) {
  for (char mark : {'!', '?'}) {
    for (std::size_t pos = start; pos < end;) {
      const void* hit = std::memchr(text.data() + pos, mark, end - pos);
      if (hit == nullptr) break;
      std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
      if (at > start && text[at - 1] == '<') return true;
      pos = at + 1;
    }
  }
  return false;
}

// The first row end at or after from, scanning from start and stepping over
// comments, CDATA sections, declarations and processing instructions.
std::size_t rowEndOutsideMarkup(std::string_view text, std::size_t start, std::size_t from) {
  std::size_t pos = start;
  while (pos < text.size()) {
    std::size_t lt = text.find('<', pos);
    if (lt == std::string_view::npos) break;
    std::string_view rest = text.substr(lt);
    std::string_view close;
    if (rest.starts_with("<!--")) close = "-->";
    else if (rest.starts_with("<![CDATA[")) close = "]]>";
    else if (rest.starts_with("<?")) close = "?>";
    else if (rest.starts_with("<!")) close = ">";
    if (!close.empty()) {
      std::size_t end = text.find(close, lt + 2);
      if (end == std::string_view::npos) break;
      pos = end + close.size();
      continue;
    }
    if (lt >= from) {
      if (std::size_t length = rowEndTagAt(text, lt)) return lt + length;
    }
    pos = lt + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::size_t afterRowEnd(std::string_view text, std::size_t start, std::size_t from) {
  std::size_t found = firstRowEndTag(text, from);
  if (found == std::string_view::npos || !mayHoldMarkup(text, start, found)) return found;
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
