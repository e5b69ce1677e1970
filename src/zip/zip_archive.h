// Read-only zip archive: the member list at Open, each member's bytes
// inflated on first request and cached with its entry until Close.
//
// Once open, an archive may be read from several threads at once
// (GetEntry, StreamEntry, Entries): one lock guards the zip reader and the
// caching of members, and the inflating of a streamed member runs outside
// it. Open, Close and AddEntryImpl must not overlap any other call.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_errors.h"

struct zip;

namespace Zippy {

// What the central directory says about one member, plus the flags the
// archive object sets for the entries it makes itself.
struct ZipEntryInfo {
  std::uint32_t index = 0;            // member index (see GetNewIndex)
  std::uint16_t method = 0;           // 0 stored, 8 deflated
  std::time_t modified = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  bool isDirectory = false;
  bool isEncrypted = false;
  bool isSupported = true;
  std::string name;                   // at most 511 bytes
};

namespace Impl {

class ZipEntry {
 public:
  ZipEntry() = default;
  explicit ZipEntry(ZipEntryInfo info) : info(std::move(info)) {}
  virtual ~ZipEntry() = default;
  ZipEntry(const ZipEntry&) = default;
  ZipEntry(ZipEntry&&) noexcept = default;
  ZipEntry& operator=(const ZipEntry&) = default;
  ZipEntry& operator=(ZipEntry&&) noexcept = default;

  // Process-wide entry numbering: a member at directory position j takes j
  // (the counter moves to j, or up by one when already at or past it); an
  // entry made by the archive object passes j = -1 and takes counter + 1.
  static std::uint32_t GetNewIndex(std::int64_t memberPosition);

  ZipEntryInfo info;
  std::vector<unsigned char> data;
  bool changed = false;
  // libzip's index of the member this entry was made from; -1 for entries
  // the archive object created.
  std::int64_t memberIndex = -1;
};

}  // namespace Impl

// A handle to an entry inside the archive. Owns nothing; valid until the
// entry list next changes (Open, Close, AddEntryImpl).
class ZipEntry {
 public:
  explicit ZipEntry(Impl::ZipEntry* entry) : entry_(entry) {}
  virtual ~ZipEntry() = default;

  std::string GetName() const { return entry_->info.name; }
  bool IsDirectory() const { return entry_->info.isDirectory; }
  std::span<const unsigned char> GetBytes() const { return entry_->data; }
  std::string_view GetView() const {
    return {reinterpret_cast<const char*>(entry_->data.data()), entry_->data.size()};
  }
  std::string GetText() const { return std::string(GetView()); }

 private:
  Impl::ZipEntry* entry_;
};

class ZipArchive {
 public:
  ZipArchive() = default;
  virtual ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  void Open(const std::string& path);
  // Opens the archive held in memory: the size bytes at data, which must
  // stay unchanged until Close (nothing is copied). Fails as Open does for
  // a file holding the same bytes.
  void OpenMemory(const void* data, std::size_t size);
  ZipEntry GetEntry(const std::string& name);
  void Close() noexcept;
  std::vector<std::string> GetEntryNames() const;
  ZipEntry AddEntryImpl(const std::string& name, const std::vector<unsigned char>& data);

  bool IsOpen() const { return open_; }
  const std::string& Path() const { return path_; }
  // Every entry, folders included, in list order.
  const std::vector<Impl::ZipEntry>& Entries() const { return entries_; }

  // Streams a file member's inflated bytes to sink in pieces of at most
  // chunkSize bytes, without caching them; the same lookup, checks and
  // messages as GetEntry. sink returns false to stop early.
  void StreamEntry(const std::string& name,
                   const std::function<bool(std::string_view chunk)>& sink,
                   std::size_t chunkSize = 1 << 20);

 private:
  void ReadDirectory();

  // Guards reader_ and the caching of entries' bytes once the archive is
  // open; cached bytes never change again until Close.
  std::mutex mutex_;
  struct zip* reader_ = nullptr;
  std::string path_;
  bool open_ = false;
  std::vector<Impl::ZipEntry> entries_;
  // Size of the file (or of the bytes in memory) at Open: no member's compressed bytes can exceed it,
  // which bounds what a lying header can make GetEntry allocate.
  std::uint64_t fileSize_ = 0;
};

}  // namespace Zippy
