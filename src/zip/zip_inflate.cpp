#include "zip/zip_inflate.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace Zippy::Impl {

namespace {

constexpr std::uint64_t kMaxIsalLength = std::numeric_limits<std::uint32_t>::max();

// The decoder state holds its history window and tables (tens of KB): keep
// it off the stack of the caller's thread.
std::unique_ptr<inflate_state> newInflateState() {
  auto state = std::make_unique<inflate_state>();
  isal_inflate_init(state.get());
  return state;
}

}  // namespace

bool plausibleSizes(std::uint16_t method, std::uint64_t compressedSize,
                    std::uint64_t uncompressedSize, std::uint64_t fileSize) {
  if (compressedSize > fileSize) return false;
  if (method == 0) return compressedSize == uncompressedSize;
  // compressedSize <= fileSize, so the product cannot overflow for any file
  // that fits on a disk.
  return uncompressedSize <= compressedSize * kMaxDeflateRatio + kDeflateSlack;
}

InflateStatus inflateWhole(std::span<const unsigned char> in, std::span<unsigned char> out) {
  if (in.size() <= kMaxIsalLength && out.size() <= kMaxIsalLength) {
    auto state = newInflateState();
    state->next_in = const_cast<std::uint8_t*>(in.data());
    state->avail_in = static_cast<std::uint32_t>(in.size());
    state->next_out = out.data();
    state->avail_out = static_cast<std::uint32_t>(out.size());
    switch (isal_inflate_stateless(state.get())) {
      case ISAL_DECOMP_OK:
        return state->total_out == out.size() ? InflateStatus::Ok : InflateStatus::SizeMismatch;
      case ISAL_OUT_OVERFLOW:
        return InflateStatus::SizeMismatch;
      default:
        return InflateStatus::Corrupt;
    }
  }

  // The one-shot decoder counts in 32 bits; larger members go through the
  // stream decoder with one extra copy per chunk.
  std::size_t inPos = 0;
  std::size_t outPos = 0;
  bool overflow = false;
  InflateStatus status = inflateStream(
      [&]() {
        std::size_t n = std::min<std::size_t>(in.size() - inPos, std::size_t{1} << 30);
        std::span<const unsigned char> piece = in.subspan(inPos, n);
        inPos += n;
        return piece;
      },
      [&](std::span<const unsigned char> piece) {
        if (piece.size() > out.size() - outPos) {
          overflow = true;
          return false;
        }
        std::copy(piece.begin(), piece.end(), out.begin() + static_cast<std::ptrdiff_t>(outPos));
        outPos += piece.size();
        return true;
      },
      std::size_t{1} << 20);
  if (overflow) return InflateStatus::SizeMismatch;
  if (status == InflateStatus::Ok && outPos != out.size()) return InflateStatus::SizeMismatch;
  return status;
}

InflateStatus inflateStream(const std::function<std::span<const unsigned char>()>& pull,
                            const std::function<bool(std::span<const unsigned char>)>& push,
                            std::size_t chunkSize) {
  chunkSize = std::clamp<std::size_t>(chunkSize, 1, kMaxIsalLength);
  auto state = newInflateState();
  std::unique_ptr<unsigned char[]> chunk(new unsigned char[chunkSize]);
  bool inputEnded = false;
  for (;;) {
    if (state->avail_in == 0 && !inputEnded) {
      std::span<const unsigned char> piece = pull();
      if (piece.empty()) {
        inputEnded = true;
      } else {
        state->next_in = const_cast<std::uint8_t*>(piece.data());
        state->avail_in = static_cast<std::uint32_t>(std::min<std::size_t>(piece.size(), kMaxIsalLength));
      }
    }
    std::uint32_t inBefore = state->avail_in;
    state->next_out = chunk.get();
    state->avail_out = static_cast<std::uint32_t>(chunkSize);
    int rc = isal_inflate(state.get());
    std::size_t produced = chunkSize - state->avail_out;
    if (rc != ISAL_DECOMP_OK) return InflateStatus::Corrupt;
    if (produced > 0 && !push({chunk.get(), produced})) return InflateStatus::Stopped;
    if (state->block_state == ISAL_BLOCK_FINISH) return InflateStatus::Ok;
    // One call does all the work its input and output room allow, so a call
    // that neither consumed nor produced anything can never finish.
    if (produced == 0 && state->avail_in == inBefore && (inBefore > 0 || inputEnded))
      return InflateStatus::Corrupt;
  }
}

}  // namespace Zippy::Impl
