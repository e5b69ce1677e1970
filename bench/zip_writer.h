// A streaming writer of plain zip archives: deflated members, fixed
// timestamps, no data descriptors, no zip64 (members and archive stay
// below 4 GiB), so the same content always gives the same bytes.
#ifndef TABULON_BENCH_ZIP_WRITER_H
#define TABULON_BENCH_ZIP_WRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

namespace bench {

class ZipWriter {
 public:
  // Throws std::runtime_error when the file cannot be created.
  explicit ZipWriter(const std::string& path);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Members are written one at a time: begin, any number of writes, end.
  void begin(std::string_view name);
  void write(std::string_view bytes);
  void end();
  // Convenience for small members.
  void add(std::string_view name, std::string_view bytes);
  // Writes the central directory and closes the file.
  void finish();

 private:
  struct Member {
    std::string name;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
  };

  void deflateInto(int flush);
  void put(const void* data, std::size_t size);

  std::FILE* file_ = nullptr;
  z_stream stream_{};
  bool open_ = false;
  Member current_;
  std::vector<Member> members_;
  std::vector<unsigned char> out_;
  std::uint64_t position_ = 0;
};

}  // namespace bench

#endif
