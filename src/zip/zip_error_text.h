// The messages the archive layer's runtime errors carry, and the mapping
// from the zip library's error codes onto them.
#pragma once

#include <string_view>

namespace Zippy::Text {

inline constexpr std::string_view kFileOpenFailed = "file open failed";
inline constexpr std::string_view kFileSeekFailed = "file seek failed";
inline constexpr std::string_view kFileReadFailed = "file read failed";
inline constexpr std::string_view kNotZip = "not a ZIP archive";
inline constexpr std::string_view kNoCentralDir = "failed finding central directory";
inline constexpr std::string_view kMultidisk = "unsupported multidisk archive";
inline constexpr std::string_view kCorrupt = "invalid header or archive is corrupted";
inline constexpr std::string_view kAllocFailed = "allocation failed";
inline constexpr std::string_view kFileNotFound = "file not found";
inline constexpr std::string_view kEncryption = "unsupported encryption";
inline constexpr std::string_view kMethod = "unsupported method";
inline constexpr std::string_view kDecompression = "decompression failed or archive is corrupted";
inline constexpr std::string_view kSize = "unexpected decompressed size";
inline constexpr std::string_view kCrc = "CRC-32 check failed";

inline constexpr std::string_view kGetEntryClosed = "Cannot call GetEntry on empty ZipArchive object!";
inline constexpr std::string_view kGetEntryNamesClosed =
    "Cannot call GetEntryNames on empty ZipArchive object!";
inline constexpr std::string_view kAddEntryClosed = "Cannot call AddEntry on empty ZipArchive object!";

// The message for a libzip error code (ZIP_ER_*). "Not a zip archive" maps
// to the corrupt-header text: when it means that no end record exists at
// all, the caller knows better and says so.
std::string_view forLibzipError(int code);

}  // namespace Zippy::Text
