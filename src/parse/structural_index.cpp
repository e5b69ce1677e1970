#include "parse/structural_index.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TABULON_SCAN_X86 1
#endif

namespace tabulon::structural {

namespace {

// Eight bytes at a time in a plain 64-bit word, for machines without the
// vector units below: the high bit of each byte of zeroBytes(y) is set when
// that byte of y is 0 (exactly: no carry crosses a byte), and packed()
// gathers those bits into the low eight, byte i to bit i.
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
constexpr std::uint64_t kHigh = 0x8080808080808080ull;

inline std::uint64_t zeroBytes(std::uint64_t y) { return ~(((y & kLow7) + kLow7) | y) & kHigh; }
inline std::uint64_t equalTo(std::uint64_t x, unsigned char c) { return zeroBytes(x ^ (kOnes * c)); }
inline std::uint64_t packed(std::uint64_t highBits) { return ((highBits >> 7) * 0x0102040810204080ull) >> 56; }

inline std::uint64_t loadWord(const char* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

void classifyScalar(const char* text, std::size_t chunks, ChunkMasks* out) {
  for (std::size_t c = 0; c < chunks; ++c, text += 64) {
    ChunkMasks masks;
    for (unsigned k = 0; k < 8; ++k) {
      const std::uint64_t x = loadWord(text + 8 * k);
      masks.lt |= packed(equalTo(x, '<')) << (8 * k);
      masks.edit |= packed(equalTo(x, '&') | equalTo(x, ';') | equalTo(x, '\r')) << (8 * k);
    }
    out[c] = masks;
  }
}

#ifdef TABULON_SCAN_X86

void classifySse2(const char* text, std::size_t chunks, ChunkMasks* out) {
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i semicolon = _mm_set1_epi8(';');
  const __m128i cr = _mm_set1_epi8('\r');
  for (std::size_t c = 0; c < chunks; ++c, text += 64) {
    ChunkMasks masks;
    for (unsigned k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * k));
      const auto bits = [&](__m128i m) {
        return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(m))) << (16 * k);
      };
      masks.lt |= bits(_mm_cmpeq_epi8(v, lt));
      masks.edit |= bits(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, semicolon)),
                                      _mm_cmpeq_epi8(v, cr)));
    }
    out[c] = masks;
  }
}

__attribute__((target("avx2"))) void classifyAvx2(const char* text, std::size_t chunks, ChunkMasks* out) {
  const __m256i lt = _mm256_set1_epi8('<');
  const __m256i amp = _mm256_set1_epi8('&');
  const __m256i semicolon = _mm256_set1_epi8(';');
  const __m256i cr = _mm256_set1_epi8('\r');
  for (std::size_t c = 0; c < chunks; ++c, text += 64) {
    ChunkMasks masks;
    for (unsigned k = 0; k < 2; ++k) {
      // No helper lambda: it would not inherit this function's target.
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32 * k));
      const __m256i edit = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, amp), _mm256_cmpeq_epi8(v, semicolon)),
                                           _mm256_cmpeq_epi8(v, cr));
      const unsigned shift = 32 * k;
      masks.lt |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lt)))) << shift;
      masks.edit |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(edit))) << shift;
    }
    out[c] = masks;
  }
}

#endif

using Classifier = void (*)(const char*, std::size_t, ChunkMasks*);

Classifier classifierOf(Path path) {
#ifdef TABULON_SCAN_X86
  if (path == Path::Avx2) return classifyAvx2;
  if (path == Path::Sse2) return classifySse2;
#endif
  (void)path;
  return classifyScalar;
}

Path best() {
  if (available(Path::Avx2)) return Path::Avx2;
  if (available(Path::Sse2)) return Path::Sse2;
  return Path::Scalar;
}

Path fromEnvironment() {
  const char* asked = std::getenv("TABULON_SCAN");
  if (asked == nullptr) return best();
  const std::string_view name(asked);
  Path path = best();
  if (name == "scalar") path = Path::Scalar;
  else if (name == "sse2") path = Path::Sse2;
  else if (name == "avx2") path = Path::Avx2;
  while (!available(path)) path = static_cast<Path>(static_cast<int>(path) - 1);
  return path;
}

}  // namespace

bool available(Path path) {
  switch (path) {
    case Path::Scalar: return true;
#ifdef TABULON_SCAN_X86
    case Path::Sse2: return true;
    case Path::Avx2: return __builtin_cpu_supports("avx2");
#else
    default: return false;
#endif
  }
  return false;
}

Path chosen() {
  static const Path path = fromEnvironment();
  return path;
}

std::string_view nameOf(Path path) {
  switch (path) {
    case Path::Scalar: return "scalar";
    case Path::Sse2: return "sse2";
    case Path::Avx2: return "avx2";
  }
  return "scalar";
}

void classify(Path path, const char* text, std::size_t size, ChunkMasks* out) {
  const Classifier run = classifierOf(path);
  const std::size_t whole = size / 64;
  run(text, whole, out);
  if (const std::size_t rest = size % 64) {
    // The last, partial chunk from a copy padded with a byte of no class.
    char padded[64];
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, text + whole * 64, rest);
    run(padded, 1, out + whole);
  }
}

void Index::fill(std::size_t index) {
  first_ = index;
  const std::size_t begin = index << 6;
  const std::size_t bytes = std::min(size_ - begin, kWindowChunks * 64);
  ChunkMasks masks[kWindowChunks];
  classify(path_, base_ + begin, bytes, masks);
  filled_ = (bytes + 63) / 64;
  for (std::size_t i = 0; i < filled_; ++i) {
    lt_[i] = masks[i].lt;
    edit_[i] = masks[i].edit;
  }
}

}  // namespace tabulon::structural
