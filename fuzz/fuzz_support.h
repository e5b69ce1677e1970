// Helpers shared by the fuzz targets: input views, invariant checks, the
// small tables the row targets take from the first bytes of their input,
// and a scratch file for the targets that need a path.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// An invariant did not hold: abort, so the engine keeps the input.
[[noreturn]] inline void broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline void require(bool condition, const char* what) {
  if (!condition) broken(what);
}

// The tables a row parser reads, chosen by the first kTableBytes of the
// input:
//   byte 0: bit 0 date1904, bit 1 full width (17,575 fields), bits 4-7 the
//           number of cell formats (0..15)
//   byte 1: width when bit 1 is clear (0..63)
//   byte 2: number of shared strings (0..8) taken from kStrings
//   byte 3: date flag of cell format i is bit (i % 8)
constexpr std::size_t kTableBytes = 4;

inline const std::vector<std::string>& stringPool() {
  // Texts the row parser must edit (';' and carriage returns) or copy as is.
  static const std::vector<std::string> pool = {
      "", "text", "a;b", "line\r\nbreak", "\xc3\xbc\xe2\x82\xac", ";", "\r", "x;;;y"};
  return pool;
}

struct Tables {
  std::vector<std::string> strings;
  std::vector<int> styles;
  bool date1904 = false;
  std::uint32_t width = 0;
};

// Reads the tables and returns the rest of the input (the XML).
inline std::string_view takeTables(std::string_view input, Tables& tables) {
  unsigned char head[kTableBytes] = {};
  for (std::size_t i = 0; i < kTableBytes && i < input.size(); ++i)
    head[i] = static_cast<unsigned char>(input[i]);
  input.remove_prefix(input.size() < kTableBytes ? input.size() : kTableBytes);

  tables.date1904 = head[0] & 1;
  tables.width = (head[0] & 2) ? 17575 : head[1] % 64;
  std::size_t styleCount = head[0] >> 4;
  tables.styles.clear();
  for (std::size_t i = 0; i < styleCount; ++i) tables.styles.push_back((head[3] >> (i % 8)) & 1);
  std::size_t stringCount = head[2] % (stringPool().size() + 1);
  tables.strings.assign(stringPool().begin(), stringPool().begin() + static_cast<std::ptrdiff_t>(stringCount));
  return input;
}

// The header that selects tables; the inverse of takeTables for seeds.
inline std::string tableHeader(bool date1904, std::uint32_t width, std::size_t strings,
                               std::size_t styles, unsigned char dateBits) {
  std::string head(kTableBytes, '\0');
  head[0] = static_cast<char>((date1904 ? 1 : 0) | (width > 63 ? 2 : 0) | ((styles & 15) << 4));
  head[1] = static_cast<char>(width % 64);
  head[2] = static_cast<char>(strings);
  head[3] = static_cast<char>(dateBits);
  return head;
}

// A file of this process in the temporary folder, rewritten per input.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tabulon-fuzz-" +
            std::to_string(::getpid()) + suffix;
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& write(const std::uint8_t* data, std::size_t size) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) broken("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) broken("short write of the scratch file");
    std::fclose(f);
    return path_;
  }

 private:
  std::string path_;
};

}  // namespace tabulon::fuzz
