// Writes small compound files (the container of legacy office documents
// and of encrypted workbooks) holding only a directory of stream names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tabulon::test {

inline void compoundPut32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

inline void compoundPut16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A compound file of 512-byte sectors: sector 0 the allocation table, then
// the directory (a root entry and one stream entry per name, four entries
// a sector, the sectors chained), and no stream data.
inline std::string compoundFile(const std::vector<std::string>& names) {
  const std::size_t entries = names.size() + 1;
  const std::size_t dirSectors = (entries + 3) / 4;
  std::string file(512 * (2 + dirSectors), '\0');
  file.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  compoundPut16(file, 24, 0x3E);
  compoundPut16(file, 26, 3);
  compoundPut16(file, 28, 0xFFFE);
  compoundPut16(file, 30, 9);
  compoundPut16(file, 32, 6);
  compoundPut32(file, 44, 1);                     // one allocation sector
  compoundPut32(file, 48, 1);                     // the directory starts at sector 1
  compoundPut32(file, 56, 4096);
  compoundPut32(file, 60, 0xFFFFFFFE);
  compoundPut32(file, 68, 0xFFFFFFFE);
  for (std::size_t i = 0; i < 109; ++i) compoundPut32(file, 76 + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
  const std::size_t fat = 512;
  for (std::size_t i = 0; i < 128; ++i) compoundPut32(file, fat + 4 * i, 0xFFFFFFFF);
  compoundPut32(file, fat, 0xFFFFFFFD);
  for (std::size_t s = 0; s < dirSectors; ++s)
    compoundPut32(file, fat + 4 * (1 + s), s + 1 < dirSectors ? static_cast<std::uint32_t>(2 + s) : 0xFFFFFFFE);
  std::vector<std::string> all = {"Root Entry"};
  all.insert(all.end(), names.begin(), names.end());
  for (std::size_t e = 0; e < all.size(); ++e) {
    const std::size_t at = 1024 + 128 * e;
    for (std::size_t c = 0; c < all[e].size(); ++c) compoundPut16(file, at + 2 * c, static_cast<unsigned char>(all[e][c]));
    compoundPut16(file, at + 64, static_cast<std::uint16_t>(2 * (all[e].size() + 1)));
    file[at + 66] = e == 0 ? 5 : 2;
    compoundPut32(file, at + 116, 0xFFFFFFFE);
  }
  return file;
}

}  // namespace tabulon::test
