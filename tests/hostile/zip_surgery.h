// Byte-level edits of archives written by the test archive writer (no
// comment, no zip64): finding central directory records, rewriting their
// fields, and giving an archive a zip64 end so it can hold more than 65,535
// members.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tabulon::test {

// Offsets of fields inside a central directory record.
namespace central {
constexpr std::size_t kCrc = 16;
constexpr std::size_t kCompressedSize = 20;
constexpr std::size_t kUncompressedSize = 24;
constexpr std::size_t kNameLength = 28;
constexpr std::size_t kLocalOffset = 42;
constexpr std::size_t kName = 46;
}  // namespace central

constexpr std::size_t kEndRecordSize = 22;

inline std::uint32_t read32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  return v;
}

inline std::uint16_t read16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                    (static_cast<unsigned char>(bytes.at(at + 1)) << 8));
}

inline void write32(std::string& bytes, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>((v >> (8 * i)) & 0xff);
}

inline void append(std::string& out, std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

// Where each central directory record starts, in directory order.
inline std::vector<std::size_t> centralRecords(const std::string& zip) {
  const std::size_t end = zip.size() - kEndRecordSize;
  if (read32(zip, end) != 0x06054b50) throw std::runtime_error("no end record where expected");
  std::vector<std::size_t> records;
  std::size_t at = read32(zip, end + 16);
  for (std::uint16_t i = 0; i < read16(zip, end + 10); ++i) {
    records.push_back(at);
    at += central::kName + read16(zip, at + 28) + read16(zip, at + 30) + read16(zip, at + 32);
  }
  return records;
}

// The record of the member called name.
inline std::size_t centralRecordOf(const std::string& zip, const std::string& name) {
  for (std::size_t at : centralRecords(zip))
    if (zip.compare(at + central::kName, read16(zip, at + central::kNameLength), name) == 0) return at;
  throw std::runtime_error("no member " + name);
}

// Replaces the end record with a zip64 end record, its locator and an end
// record that defers to them: the member count then has 64 bits.
inline std::string withZip64End(std::string zip, std::uint64_t members) {
  const std::size_t end = zip.size() - kEndRecordSize;
  const std::uint32_t directorySize = read32(zip, end + 12);
  const std::uint32_t directoryOffset = read32(zip, end + 16);
  zip.resize(end);
  const std::size_t zip64End = zip.size();
  append(zip, 0x06064b50, 4);
  append(zip, 44, 8);  // size of the rest of the record
  append(zip, 45, 2);
  append(zip, 45, 2);
  append(zip, 0, 4);
  append(zip, 0, 4);
  append(zip, members, 8);
  append(zip, members, 8);
  append(zip, directorySize, 8);
  append(zip, directoryOffset, 8);
  append(zip, 0x07064b50, 4);  // locator
  append(zip, 0, 4);
  append(zip, zip64End, 8);
  append(zip, 1, 4);
  append(zip, 0x06054b50, 4);
  append(zip, 0, 2);
  append(zip, 0, 2);
  append(zip, 0xffff, 2);
  append(zip, 0xffff, 2);
  append(zip, directorySize, 4);
  append(zip, directoryOffset, 4);
  append(zip, 0, 2);
  return zip;
}

}  // namespace tabulon::test
