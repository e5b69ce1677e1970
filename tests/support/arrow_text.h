// Typed columns written out as text, one line per column with every cell,
// so that two results compare as strings and a difference shows.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "tabulon.h"

namespace tabulon::test {

inline std::string arrowCell(const ArrowSchema& s, const ArrowArray& a, std::int64_t i) {
  const std::string format = s.format;
  if (format == "n") return "-";
  auto validity = static_cast<const std::uint8_t*>(a.buffers[0]);
  if (validity != nullptr && !(validity[(i + a.offset) >> 3] >> ((i + a.offset) & 7) & 1)) return "-";
  i += a.offset;
  if (format == "b") return static_cast<const std::uint8_t*>(a.buffers[1])[i >> 3] >> (i & 7) & 1 ? "T" : "F";
  if (format == "i") {
    const ArrowArray& d = *a.dictionary;
    const auto index = static_cast<const std::int32_t*>(a.buffers[1])[i];
    const auto offsets = static_cast<const std::int32_t*>(d.buffers[1]);
    const auto chars = static_cast<const char*>(d.buffers[2]);
    return "'" + std::string(chars + offsets[index], chars + offsets[index + 1]) + "'";
  }
  if (format == "u") {
    const auto offsets = static_cast<const std::int32_t*>(a.buffers[1]);
    const auto chars = static_cast<const char*>(a.buffers[2]);
    return "'" + std::string(chars + offsets[i], chars + offsets[i + 1]) + "'";
  }
  // Every other format the reader makes holds 8-byte values: their bits.
  std::uint64_t bits;
  std::memcpy(&bits, static_cast<const char*>(a.buffers[1]) + 8 * i, 8);
  return std::to_string(bits);
}

inline std::string arrowText(const ArrowSchema& schema, const ArrowArray& array) {
  std::string text = std::string(schema.format) + " " + std::to_string(array.length) + " rows\n";
  for (std::int64_t c = 0; c < schema.n_children; ++c) {
    const ArrowSchema& s = *schema.children[c];
    const ArrowArray& a = *array.children[c];
    text += std::string(s.name ? s.name : "") + " [" + s.format + "] nulls " + std::to_string(a.null_count) + ":";
    for (std::int64_t i = 0; i < a.length; ++i) text += " " + arrowCell(s, a, i);
    text += "\n";
  }
  return text;
}

}  // namespace tabulon::test
