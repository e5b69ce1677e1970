// The structural index of worksheet text: for every 64 bytes, one bit per
// byte that the row reader stops at ('<') or that makes a value need editing
// ('&', ';', carriage return). The row reader asks it where the next tag
// starts and whether a value needs editing instead of testing the bytes one
// by one. Quotes are not indexed: attribute values in sheets are a few
// bytes long, where testing them costs less than a look at the masks.
//
// The masks are worked out by one of three equal paths: plain C++ (every
// machine), SSE2 (every x86-64) and AVX2 (chosen at run time when the
// processor has it). The environment variable TABULON_SCAN=scalar|sse2|avx2
// picks one for tests and measurements; a path the processor lacks falls
// back to the best one below it. Every path gives the same bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tabulon::structural {

enum class Path : std::uint8_t { Scalar, Sse2, Avx2 };

// The masks of one 64-byte chunk: bit i stands for byte i of the chunk.
struct ChunkMasks {
  std::uint64_t lt = 0;     // '<'
  std::uint64_t edit = 0;   // '&', ';', '\r'
};

// True when this build and this processor can run path.
bool available(Path path);

// The path every reader uses: TABULON_SCAN when it names an available path
// (else the best available one below it), otherwise the best available.
// Read once per process.
Path chosen();

// "scalar", "sse2" or "avx2".
std::string_view nameOf(Path path);

// Fills out[0, (size + 63) / 64) with the masks of text[0, size); bytes past
// size count as none of the classes. path must be available.
void classify(Path path, const char* text, std::size_t size, ChunkMasks* out);

// A forward reader over [begin, end) that works out the masks of a window of
// chunks when first asked about it. Asking about an earlier position than
// the window (a row read again) works the window out again there.
//
// The next tag mostly follows at once: that byte is tested before the masks
// are looked up.
class Index {
 public:
  Index(const char* begin, const char* end, Path path = chosen())
      : base_(begin), end_(end), size_(static_cast<std::size_t>(end - begin)), path_(path) {}

  const char* end() const { return end_; }

  // The first '<' at or after p, or end().
  const char* nextLt(const char* p) {
    if (p < end_ && *p == '<') return p;
    return next(p, lt_);
  }
  // True when [p, q) holds '&', ';' or a carriage return.
  bool holdsEdit(const char* p, const char* q);
  // The first '<' at or after p, or end(), and in edited whether the bytes
  // before it hold '&', ';' or a carriage return: a cell value's end and
  // whether it needs editing, from one look at the masks when it ends in
  // the chunk it starts in.
  const char* valueEnd(const char* p, bool& edited) {
    const std::size_t at = static_cast<std::size_t>(p - base_);
    if (at < size_) {
      const std::size_t s = slot(at >> 6);
      const unsigned offset = at & 63;
      const std::uint64_t bits = lt_[s] >> offset;
      if (bits != 0) {
        const unsigned length = static_cast<unsigned>(__builtin_ctzll(bits));
        edited = ((edit_[s] >> offset) & ((std::uint64_t{1} << length) - 1)) != 0;
        return p + length;
      }
    }
    const char* q = nextLt(p);
    edited = holdsEdit(p, q);
    return q;
  }

 private:
  static constexpr std::size_t kWindowChunks = 64;

  // The window position of chunk index, working the window out when needed.
  std::size_t slot(std::size_t index) {
    if (index - first_ >= filled_) fill(index);
    return index - first_;
  }
  void fill(std::size_t index);

  // The first byte at or after p whose bit is set in masks.
  const char* next(const char* p, const std::uint64_t* masks) {
    std::size_t at = static_cast<std::size_t>(p - base_);
    while (at < size_) {
      const std::size_t index = at >> 6;
      const std::uint64_t bits = masks[slot(index)] & (~std::uint64_t{0} << (at & 63));
      if (bits != 0) return base_ + (index << 6) + static_cast<std::size_t>(__builtin_ctzll(bits));
      at = (index + 1) << 6;
    }
    return end_;
  }

  const char* base_;
  const char* end_;
  std::size_t size_;
  Path path_;
  std::size_t first_ = 0;   // chunk number of the window's first slot
  std::size_t filled_ = 0;  // slots of the window worked out
  std::uint64_t lt_[kWindowChunks];
  std::uint64_t edit_[kWindowChunks];
};

inline bool Index::holdsEdit(const char* p, const char* q) {
  std::size_t at = static_cast<std::size_t>(p - base_);
  const std::size_t stop = static_cast<std::size_t>(q - base_);
  while (at < stop) {
    const std::size_t index = at >> 6;
    std::uint64_t bits = edit_[slot(index)] & (~std::uint64_t{0} << (at & 63));
    const std::size_t chunkEnd = (index + 1) << 6;
    if (stop < chunkEnd) bits &= (std::uint64_t{1} << (stop & 63)) - 1;
    if (bits != 0) return true;
    at = chunkEnd;
  }
  return false;
}

}  // namespace tabulon::structural
