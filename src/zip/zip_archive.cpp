#include "zip/zip_archive.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "zip/zip_error_text.h"
#include "zip/zip_inflate.h"

namespace Zippy {

namespace Impl {

std::uint32_t ZipEntry::GetNewIndex(std::int64_t memberPosition) {
  // Archives open on several threads at once share the counter.
  static std::mutex guard;
  std::lock_guard lock(guard);
  static std::uint32_t index = 0;
  if (memberPosition < 0) return ++index;
  auto position = static_cast<std::uint32_t>(memberPosition);
  if (index < position) {
    index = position;
  } else {
    ++index;
  }
  return position;
}

}  // namespace Impl

namespace {

constexpr std::size_t kMaxNameLength = 511;
constexpr std::uint32_t kDosDirectoryBit = 0x10;
constexpr std::uint64_t kEndRecordSize = 22;
// The end record sits within its own size plus the longest comment.
constexpr std::uint64_t kEndRecordReach = kEndRecordSize + 0xffff;
// Compressed bytes are read in pieces of this size when streaming.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

[[noreturn]] void fail(std::string_view message) { throw ZipRuntimeError(std::string(message)); }

[[noreturn]] void failWith(zip_error_t* error) {
  fail(Text::forLibzipError(zip_error_code_zip(error)));
}

struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
};

// Whether the tail of the bytes holds an end-of-central-directory
// signature: tells "there is no end record" apart from "the directory it
// points at is broken", which the zip library reports alike.
bool hasEndRecordSignature(std::string_view tail) {
  return tail.find(std::string_view("PK\x05\x06", 4)) != std::string_view::npos;
}

bool fileHasEndRecordSignature(int fd, std::uint64_t fileSize) {
  std::uint64_t n = std::min(fileSize, kEndRecordReach);
  std::string tail(n, '\0');
  if (::pread(fd, tail.data(), n, static_cast<off_t>(fileSize - n)) != static_cast<ssize_t>(n))
    return false;
  return hasEndRecordSignature(tail);
}

// A file read with pread at offsets of its own: the zip library's stdio
// reader moves the descriptor's shared offset, which a forked process
// reading the same open archive would move under it.
struct FileSource {
  int fd;
  std::uint64_t size;
  std::uint64_t offset = 0;
  zip_error_t error;
};

zip_int64_t fileSourceCall(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* source = static_cast<FileSource*>(state);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      source->offset = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      if (source->offset >= source->size) return 0;
      const std::uint64_t wanted = std::min<std::uint64_t>(length, source->size - source->offset);
      ssize_t got;
      do {
        got = ::pread(source->fd, data, static_cast<std::size_t>(wanted), static_cast<off_t>(source->offset));
      } while (got < 0 && errno == EINTR);
      if (got < 0) {
        zip_error_set(&source->error, ZIP_ER_READ, errno);
        return -1;
      }
      source->offset += static_cast<std::uint64_t>(got);
      return got;
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
      if (stat == nullptr) return -1;
      zip_stat_init(stat);
      stat->size = source->size;
      stat->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
      ::close(source->fd);
      zip_error_fini(&source->error);
      delete source;
      return 0;
    case ZIP_SOURCE_SEEK: {
      zip_int64_t to = zip_source_seek_compute_offset(source->offset, source->size, data, length, &source->error);
      if (to < 0) return -1;
      source->offset = static_cast<std::uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(source->offset);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// The zip reader turns every entry's time into a time_t with mktime while
// it reads the directory. The C library guards its time zone state with a
// lock of its own, which ThreadSanitizer cannot see; directories are read
// one at a time so that its view stays clean (the rest of the opening, and
// all reading of members, runs in parallel).
std::mutex directoryLock;

// Opens the zip reader on source (which it then owns, also on failure).
// noEndRecord tells whether the bytes lack an end record altogether.
zip_t* openOnSource(zip_source_t* source, const std::function<bool()>& noEndRecord) {
  zip_error_t error;
  zip_error_init(&error);
  zip_t* reader = nullptr;
  {
    std::lock_guard lock(directoryLock);
    reader = zip_open_from_source(source, ZIP_RDONLY, &error);
  }
  const int code = zip_error_code_zip(&error);
  zip_error_fini(&error);
  if (reader == nullptr) {
    // Tested before the source (and with it a file) goes.
    const bool noEnd = code == ZIP_ER_NOZIP && noEndRecord();
    zip_source_free(source);
    fail(noEnd ? Text::kNoCentralDir : Text::forLibzipError(code));
  }
  return reader;
}

zip_t* openReader(const std::string& path, std::uint64_t& fileSize) {
  FdGuard file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) fail(Text::kFileOpenFailed);
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) fail(Text::kFileSeekFailed);
  fileSize = static_cast<std::uint64_t>(status.st_size);
  // Too short for an end record. (The zip library would take an empty file
  // for an empty archive.)
  if (fileSize < kEndRecordSize) fail(Text::kNotZip);
  const int fd = file.fd;
  auto* state = new FileSource{fd, fileSize, 0, {}};
  zip_error_init(&state->error);
  zip_source_t* source = zip_source_function_create(fileSourceCall, state, nullptr);
  if (source == nullptr) {
    zip_error_fini(&state->error);
    delete state;
    fail(Text::kAllocFailed);
  }
  file.fd = -1;  // the source owns the file now
  const std::uint64_t size = fileSize;
  return openOnSource(source, [&] { return !fileHasEndRecordSignature(fd, size); });
}

zip_t* openMemoryReader(const void* data, std::size_t size) {
  if (size < kEndRecordSize) fail(Text::kNotZip);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  zip_error_fini(&error);
  if (source == nullptr) fail(Text::kAllocFailed);
  std::string_view bytes(static_cast<const char*>(data), size);
  return openOnSource(source, [&] {
    return !hasEndRecordSignature(bytes.substr(size - std::min<std::uint64_t>(size, kEndRecordReach)));
  });
}

bool readEntryInfo(zip_t* reader, zip_uint64_t position, ZipEntryInfo& info) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  // Raw names: the bytes as stored, never re-encoded.
  if (zip_stat_index(reader, position, ZIP_FL_ENC_RAW, &stat) != 0) return false;
  const zip_uint64_t needed = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE |
                              ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
  if ((stat.valid & needed) != needed) return false;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(reader, position, 0, &system, &attributes) != 0)
    return false;

  std::string_view fullName(stat.name);
  info.name = std::string(fullName.substr(0, kMaxNameLength));
  info.method = static_cast<std::uint16_t>(stat.comp_method);
  info.modified = (stat.valid & ZIP_STAT_MTIME) ? stat.mtime : 0;
  info.crc32 = stat.crc;
  info.compressedSize = stat.comp_size;
  info.uncompressedSize = stat.size;
  info.isDirectory = fullName.ends_with('/') || (attributes & kDosDirectoryBit) != 0;
  info.isEncrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
  info.isSupported = !info.isEncrypted && (info.method == 0 || info.method == 8);
  return true;
}

// An equal name in the very next entry replaces this one: the later member wins.
void dropDuplicateNeighbours(std::vector<Impl::ZipEntry>& entries) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i].info.name == entries[i + 1].info.name) continue;
    if (kept != i) entries[kept] = std::move(entries[i]);
    ++kept;
  }
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
}

Impl::ZipEntry createdEntry(std::string_view name, const std::vector<unsigned char>& data) {
  ZipEntryInfo info;
  info.index = Impl::ZipEntry::GetNewIndex(-1);
  info.modified = std::time(nullptr);
  info.isDirectory = name.ends_with('/');
  info.isSupported = true;
  info.name = std::string(name.substr(0, kMaxNameLength));
  Impl::ZipEntry entry(std::move(info));
  entry.data = data;
  entry.changed = true;
  return entry;
}

// What adding entries needs to know about the list without scanning it:
// the folder names present, and the first entry of each name ending in "/"
// (only such names can equal a folder prefix).
struct FolderIndex {
  std::unordered_set<std::string> folders;
  std::unordered_map<std::string, std::size_t> firstWithSlash;

  explicit FolderIndex(const std::vector<Impl::ZipEntry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const ZipEntryInfo& info = entries[i].info;
      if (info.isDirectory) folders.insert(info.name);
      if (info.name.ends_with('/')) firstWithSlash.try_emplace(info.name, i);
    }
  }
};

// Puts name into the list: first its missing parent folders (and itself,
// when it names a folder), then sets the data of the first entry of that
// name or appends a new entry. Returns the entry's position.
std::size_t addEntry(std::vector<Impl::ZipEntry>& entries, FolderIndex& index,
                     std::string_view name, const std::vector<unsigned char>& data) {
  for (std::size_t slash = name.find('/'); slash != std::string_view::npos;
       slash = name.find('/', slash + 1)) {
    std::string prefix(name.substr(0, slash + 1));
    if (index.folders.contains(prefix)) continue;
    entries.push_back(createdEntry(prefix, {}));
    index.firstWithSlash.try_emplace(prefix, entries.size() - 1);
    index.folders.insert(std::move(prefix));
  }

  std::size_t at = entries.size();
  if (name.ends_with('/')) {
    if (auto found = index.firstWithSlash.find(std::string(name)); found != index.firstWithSlash.end())
      at = found->second;
  } else {
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const Impl::ZipEntry& e) { return e.info.name == name; });
    at = static_cast<std::size_t>(found - entries.begin());
  }
  if (at < entries.size()) {
    entries[at].data = data;
    entries[at].changed = true;
    return at;
  }
  entries.push_back(createdEntry(name, data));
  if (entries.back().info.isDirectory) index.folders.insert(entries.back().info.name);
  return entries.size() - 1;
}

// Gives every folder that holds a file member an entry, in the order the
// members first need them. One pass with the folder index, so archives with
// very many members open in near-linear time.
void addFolderEntries(std::vector<Impl::ZipEntry>& entries, const std::vector<std::string>& fileNames) {
  FolderIndex index(entries);
  std::string_view lastFolder;
  for (const std::string& name : fileNames) {
    std::size_t slash = name.rfind('/');
    if (slash == std::string::npos) continue;
    std::string_view folder(name.data(), slash + 1);
    // Repeating the previous folder would change nothing.
    if (folder == lastFolder) continue;
    lastFolder = folder;
    addEntry(entries, index, folder, {});
  }
}

Impl::ZipEntry& findEntry(std::vector<Impl::ZipEntry>& entries, std::string_view name) {
  for (Impl::ZipEntry& entry : entries)
    if (entry.info.name == name) return entry;
  fail(Text::kFileNotFound);
}

// Refuses what cannot or must not be decoded, before any buffer is sized
// from the member's header.
void checkMember(const ZipEntryInfo& info, std::uint64_t fileSize) {
  if (info.isEncrypted) fail(Text::kEncryption);
  if (info.method != 0 && info.method != 8) fail(Text::kMethod);
  if (!Impl::plausibleSizes(info.method, info.compressedSize, info.uncompressedSize, fileSize))
    fail(Text::kCorrupt);
}

// A member's compressed bytes, read through the archive's zip reader. When
// lock is given, each use of the reader takes it, so that several members
// stream at once; without it the caller holds the archive's lock.
class MemberFile {
 public:
  MemberFile(zip_t* reader, const Impl::ZipEntry& entry, std::mutex* lock) : lock_(lock) {
    Guard guard(lock_);
    file_ = zip_fopen_index(reader, static_cast<zip_uint64_t>(entry.memberIndex), ZIP_FL_COMPRESSED);
    if (file_ == nullptr) failWith(zip_get_error(reader));
  }
  ~MemberFile() { close(); }
  MemberFile(const MemberFile&) = delete;
  MemberFile& operator=(const MemberFile&) = delete;

  void close() noexcept {
    if (file_ == nullptr) return;
    Guard guard(lock_);
    zip_fclose(file_);
    file_ = nullptr;
  }

  void readExactly(std::span<unsigned char> out) {
    Guard guard(lock_);
    std::size_t done = 0;
    while (done < out.size()) {
      zip_int64_t n = zip_fread(file_, out.data() + done, out.size() - done);
      if (n < 0) failWith(zip_file_get_error(file_));
      // The member's data ends before its declared size: it runs past the file.
      if (n == 0) fail(Text::kCorrupt);
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  struct Guard {
    std::mutex* lock;
    explicit Guard(std::mutex* l) : lock(l) {
      if (lock != nullptr) lock->lock();
    }
    ~Guard() {
      if (lock != nullptr) lock->unlock();
    }
  };

  std::mutex* lock_;
  zip_file_t* file_ = nullptr;
};

std::uint32_t crcOf(std::span<const unsigned char> bytes, std::uint32_t crc = 0) {
  return crc32_gzip_refl(crc, bytes.data(), bytes.size());
}

std::vector<unsigned char> readMember(zip_t* reader, std::uint64_t fileSize, const Impl::ZipEntry& entry) {
  const ZipEntryInfo& info = entry.info;
  checkMember(info, fileSize);
  std::vector<unsigned char> data;
  if (info.uncompressedSize == 0) return data;

  MemberFile file(reader, entry, nullptr);
  if (info.method == 0) {
    data.resize(info.uncompressedSize);
    file.readExactly(data);
  } else {
    // Not zero-filled: every byte is read over at once.
    std::unique_ptr<unsigned char[]> compressed(new unsigned char[info.compressedSize]);
    std::span<unsigned char> in(compressed.get(), info.compressedSize);
    file.readExactly(in);
    file.close();
    data.resize(info.uncompressedSize);
    switch (Impl::inflateWhole(in, data)) {
      case Impl::InflateStatus::Ok:
      case Impl::InflateStatus::Stopped:
        break;
      case Impl::InflateStatus::Corrupt:
        fail(Text::kDecompression);
      case Impl::InflateStatus::SizeMismatch:
        fail(Text::kSize);
    }
  }
  if (crcOf(data) != info.crc32) fail(Text::kCrc);
  return data;
}

using Sink = std::function<bool(std::string_view)>;

std::string_view asText(std::span<const unsigned char> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void streamMember(zip_t* reader, std::mutex& lock, std::uint64_t fileSize, const Impl::ZipEntry& entry,
                  const Sink& sink, std::size_t chunkSize) {
  const ZipEntryInfo& info = entry.info;
  checkMember(info, fileSize);
  if (info.uncompressedSize == 0) return;

  MemberFile file(reader, entry, &lock);
  std::uint64_t produced = 0;
  std::uint32_t crc = 0;
  auto push = [&](std::span<const unsigned char> piece) {
    produced += piece.size();
    if (produced > info.uncompressedSize) fail(Text::kSize);
    crc = crcOf(piece, crc);
    return sink(asText(piece));
  };

  std::uint64_t unread = info.compressedSize;
  if (info.method == 0) {
    std::size_t bufferSize = static_cast<std::size_t>(std::min<std::uint64_t>(unread, chunkSize));
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[bufferSize]);
    while (unread > 0) {
      std::span<unsigned char> piece(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(unread, bufferSize)));
      file.readExactly(piece);
      unread -= piece.size();
      if (!push(piece)) return;
    }
  } else {
    std::size_t bufferSize = static_cast<std::size_t>(std::min<std::uint64_t>(unread, kReadPiece));
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[bufferSize]);
    auto pull = [&]() -> std::span<const unsigned char> {
      if (unread == 0) return {};
      std::span<unsigned char> piece(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(unread, bufferSize)));
      file.readExactly(piece);
      unread -= piece.size();
      return piece;
    };
    switch (Impl::inflateStream(pull, push, chunkSize)) {
      case Impl::InflateStatus::Ok:
      case Impl::InflateStatus::SizeMismatch:
        break;
      case Impl::InflateStatus::Stopped:
        return;
      case Impl::InflateStatus::Corrupt:
        fail(Text::kDecompression);
    }
  }
  if (produced != info.uncompressedSize) fail(Text::kSize);
  if (crc != info.crc32) fail(Text::kCrc);
}

}  // namespace

ZipArchive::~ZipArchive() { Close(); }

void ZipArchive::Open(const std::string& path) {
  Close();
  path_ = path;
  reader_ = openReader(path, fileSize_);
  open_ = true;
  ReadDirectory();
}

void ZipArchive::OpenMemory(const void* data, std::size_t size) {
  Close();
  reader_ = openMemoryReader(data, size);
  fileSize_ = size;
  open_ = true;
  ReadDirectory();
}

void ZipArchive::ReadDirectory() {
  zip_int64_t count = zip_get_num_entries(reader_, 0);
  entries_.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)));
  for (zip_int64_t position = 0; position < count; ++position) {
    ZipEntryInfo info;
    if (!readEntryInfo(reader_, static_cast<zip_uint64_t>(position), info)) fail(Text::kCorrupt);
    info.index = Impl::ZipEntry::GetNewIndex(position);
    Impl::ZipEntry entry(std::move(info));
    entry.memberIndex = position;
    entries_.push_back(std::move(entry));
  }

  dropDuplicateNeighbours(entries_);
  addFolderEntries(entries_, GetEntryNames());
}

ZipEntry ZipArchive::GetEntry(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (!open_) throw ZipLogicError(std::string(Text::kGetEntryClosed));
  Impl::ZipEntry& entry = findEntry(entries_, name);
  if (!entry.data.empty() || entry.info.isDirectory) return ZipEntry(&entry);
  // An entry this object made has no member to read from.
  if (entry.memberIndex < 0) fail(Text::kFileNotFound);
  // Extracted by the entry's own member, so equal or truncated names can
  // never pick the wrong one.
  entry.data = readMember(reader_, fileSize_, entry);
  return ZipEntry(&entry);
}

void ZipArchive::StreamEntry(const std::string& name,
                             const std::function<bool(std::string_view chunk)>& sink,
                             std::size_t chunkSize) {
  chunkSize = std::max<std::size_t>(chunkSize, 1);
  std::unique_lock lock(mutex_);
  if (!open_) throw ZipLogicError(std::string(Text::kGetEntryClosed));
  Impl::ZipEntry& entry = findEntry(entries_, name);
  if (entry.info.isDirectory) return;
  if (!entry.data.empty()) {
    // Cached bytes stay as they are until Close.
    lock.unlock();
    std::string_view all = asText(entry.data);
    for (std::size_t at = 0; at < all.size(); at += chunkSize)
      if (!sink(all.substr(at, chunkSize))) return;
    return;
  }
  if (entry.memberIndex < 0) fail(Text::kFileNotFound);
  lock.unlock();
  streamMember(reader_, mutex_, fileSize_, entry, sink, chunkSize);
}

void ZipArchive::Close() noexcept {
  if (reader_ != nullptr) {
    zip_discard(reader_);
    reader_ = nullptr;
  }
  open_ = false;
  std::vector<Impl::ZipEntry>().swap(entries_);
  path_.clear();
  fileSize_ = 0;
}

std::vector<std::string> ZipArchive::GetEntryNames() const {
  if (!open_) throw ZipLogicError(std::string(Text::kGetEntryNamesClosed));
  std::vector<std::string> names;
  names.reserve(entries_.size());
  for (const Impl::ZipEntry& entry : entries_)
    if (!entry.info.isDirectory) names.push_back(entry.info.name);
  return names;
}

ZipEntry ZipArchive::AddEntryImpl(const std::string& name, const std::vector<unsigned char>& data) {
  if (!open_) throw ZipLogicError(std::string(Text::kAddEntryClosed));
  FolderIndex index(entries_);
  std::size_t at = addEntry(entries_, index, name, data);
  return ZipEntry(&entries_[at]);
}

}  // namespace Zippy
