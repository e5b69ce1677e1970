// Raw deflate decoding of zip members, and the size sanity test that runs
// before any buffer is sized from a member's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace Zippy::Impl {

// Deflate cannot expand one compressed byte into more than 1032 bytes (a
// 258-byte match coded in two bits), so a header that claims more is lying.
inline constexpr std::uint64_t kMaxDeflateRatio = 1032;
// Room for the block headers of tiny members.
inline constexpr std::uint64_t kDeflateSlack = 4096;

// Whether the sizes a member's header declares can be true: its compressed
// bytes fit in the file, a stored member's two sizes agree, and a deflated
// member does not claim more than deflate can produce.
bool plausibleSizes(std::uint16_t method, std::uint64_t compressedSize,
                    std::uint64_t uncompressedSize, std::uint64_t fileSize);

enum class InflateStatus {
  Ok,            // the stream ended (and, for inflateWhole, filled out exactly)
  Stopped,       // the consumer asked to stop
  Corrupt,       // invalid data, or the input ended inside the stream
  SizeMismatch,  // inflateWhole: the stream holds more or fewer bytes than out
};

// Inflates the whole raw deflate stream `in` into `out`, which must be
// exactly the stream's decoded size.
InflateStatus inflateWhole(std::span<const unsigned char> in, std::span<unsigned char> out);

// Inflates a raw deflate stream piece by piece. pull returns the next piece
// of compressed input (at most 4 GiB - 1 bytes; empty at the end of input);
// push receives decoded pieces of at most chunkSize bytes and returns false
// to stop. Both may throw; the exception passes through.
InflateStatus inflateStream(const std::function<std::span<const unsigned char>()>& pull,
                            const std::function<bool(std::span<const unsigned char>)>& push,
                            std::size_t chunkSize);

}  // namespace Zippy::Impl
