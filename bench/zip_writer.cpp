#include "zip_writer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace bench {
namespace {

// 1980-01-01 00:00:00 in MS-DOS form: fixed, so archives are reproducible.
constexpr std::uint16_t kDosTime = 0;
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

void le16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}

void le32(std::string& s, std::uint32_t v) {
  le16(s, v & 0xffff);
  le16(s, v >> 16);
}

std::uint32_t narrow(std::uint64_t v) {
  if (v > std::numeric_limits<std::uint32_t>::max())
    throw std::runtime_error("zip member or archive too large for a plain zip");
  return static_cast<std::uint32_t>(v);
}

std::string localHeader(std::string_view name, std::uint32_t crc, std::uint32_t compressed,
                        std::uint32_t size) {
  std::string h;
  le32(h, 0x04034b50);
  le16(h, 20);  // version needed: deflate
  le16(h, 0);   // flags
  le16(h, 8);   // method: deflate
  le16(h, kDosTime);
  le16(h, kDosDate);
  le32(h, crc);
  le32(h, compressed);
  le32(h, size);
  le16(h, static_cast<std::uint32_t>(name.size()));
  le16(h, 0);
  h += name;
  return h;
}

}  // namespace

ZipWriter::ZipWriter(const std::string& path) : out_(1 << 18) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("cannot create " + path);
}

ZipWriter::~ZipWriter() {
  if (open_) deflateEnd(&stream_);
  if (file_ != nullptr) std::fclose(file_);
}

void ZipWriter::put(const void* data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file_) != size)
    throw std::runtime_error("write failed");
  position_ += size;
}

void ZipWriter::begin(std::string_view name) {
  current_ = Member{};
  current_.name = std::string(name);
  current_.offset = position_;
  std::string header = localHeader(name, 0, 0, 0);  // patched by end()
  put(header.data(), header.size());
  stream_ = z_stream{};
  // Raw deflate (no zlib wrapper), the level most writers use.
  if (deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  open_ = true;
}

void ZipWriter::deflateInto(int flush) {
  for (;;) {
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    int rc = deflate(&stream_, flush);
    if (rc == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    std::size_t produced = out_.size() - stream_.avail_out;
    put(out_.data(), produced);
    current_.compressed += produced;
    if (flush == Z_FINISH ? rc == Z_STREAM_END : stream_.avail_out != 0) return;
  }
}

void ZipWriter::write(std::string_view bytes) {
  while (!bytes.empty()) {
    // zlib counts in 32-bit units.
    std::size_t step = std::min<std::size_t>(bytes.size(), 1u << 30);
    current_.crc = static_cast<std::uint32_t>(
        crc32(current_.crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(step)));
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream_.avail_in = static_cast<uInt>(step);
    deflateInto(Z_NO_FLUSH);
    current_.size += step;
    bytes.remove_prefix(step);
  }
}

void ZipWriter::end() {
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  deflateInto(Z_FINISH);
  deflateEnd(&stream_);
  open_ = false;
  std::string header = localHeader(current_.name, current_.crc, narrow(current_.compressed),
                                   narrow(current_.size));
  if (fseeko(file_, static_cast<off_t>(current_.offset), SEEK_SET) != 0 ||
      std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
      fseeko(file_, 0, SEEK_END) != 0)
    throw std::runtime_error("cannot patch a local header");
  members_.push_back(current_);
}

void ZipWriter::add(std::string_view name, std::string_view bytes) {
  begin(name);
  write(bytes);
  end();
}

void ZipWriter::finish() {
  std::uint64_t start = position_;
  std::string dir;
  for (const Member& m : members_) {
    le32(dir, 0x02014b50);
    le16(dir, 20);  // made by: MS-DOS attributes, version 2.0
    le16(dir, 20);
    le16(dir, 0);
    le16(dir, 8);
    le16(dir, kDosTime);
    le16(dir, kDosDate);
    le32(dir, m.crc);
    le32(dir, narrow(m.compressed));
    le32(dir, narrow(m.size));
    le16(dir, static_cast<std::uint32_t>(m.name.size()));
    le16(dir, 0);  // extra
    le16(dir, 0);  // comment
    le16(dir, 0);  // disk
    le16(dir, 0);  // internal attributes
    le32(dir, 0);  // external attributes
    le32(dir, narrow(m.offset));
    dir += m.name;
  }
  std::uint32_t entriesSize = narrow(dir.size());
  le32(dir, 0x06054b50);
  le16(dir, 0);
  le16(dir, 0);
  le16(dir, static_cast<std::uint32_t>(members_.size()));
  le16(dir, static_cast<std::uint32_t>(members_.size()));
  le32(dir, entriesSize);
  le32(dir, narrow(start));
  le16(dir, 0);
  put(dir.data(), dir.size());
  if (std::fclose(file_) != 0) {
    file_ = nullptr;
    throw std::runtime_error("close failed");
  }
  file_ = nullptr;
}

}  // namespace bench
