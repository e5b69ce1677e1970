#include "parse/row_blocks.h"

#include <algorithm>
#include <cstring>

namespace tabulon {

std::size_t afterRowEnd(std::string_view text, std::size_t from) {
  const char* base = text.data();
  std::size_t size = text.size();
  std::size_t pos = from;
  while (pos < size) {
    const void* hit = std::memchr(base + pos, '<', size - pos);
    if (hit == nullptr) break;
    std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    pos = lt + 1;
    if (pos >= size || base[pos] != '/') continue;
    std::size_t name = pos + 1, nameEnd = name;
    while (nameEnd < size && base[nameEnd] != '>' && base[nameEnd] != ' ' && base[nameEnd] != '<' &&
           base[nameEnd] != '\t' && base[nameEnd] != '\n' && base[nameEnd] != '\r')
      ++nameEnd;
    std::string_view qualified(base + name, nameEnd - name);
    std::size_t colon = qualified.rfind(':');
    std::string_view local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    if (local != "row") continue;
    const void* gt = std::memchr(base + nameEnd, '>', size - nameEnd);
    if (gt == nullptr) break;
    return static_cast<std::size_t>(static_cast<const char*>(gt) - base) + 1;
  }
  return std::string_view::npos;
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
    if (i + 1 < count && start + step < size) end = std::min(size, afterRowEnd(text, start + step));
    blocks.push_back(text.substr(start, end - start));
    start = end;
  }
  return blocks;
}

}  // namespace tabulon
