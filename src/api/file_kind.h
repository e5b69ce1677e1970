// Files that are not workbooks this library reads, told apart so that the
// refusal names what the file is: a password-protected workbook, a legacy
// .xls, a binary .xlsb, an OpenDocument spreadsheet, or something else
// altogether. Reading those formats is not attempted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "zip/zip_archive.h"

namespace tabulon {

// Reads up to size bytes at offset of a file or buffer; fewer at its end.
using ByteReader = std::function<std::string(std::uint64_t offset, std::size_t size)>;

// What a file that is no zip archive is, from its first bytes and, for a
// compound file, the names in its directory. nullopt when it is nothing
// recognised (a damaged zip archive among them); the failure's text does not
// name the file.
std::optional<Failure> recognizeNonZip(const ByteReader& read, std::uint64_t size);

// The same for the file at path (nullopt when it cannot be read) and for
// bytes in memory.
std::optional<Failure> recognizeNonZipFile(const std::string& path);
std::optional<Failure> recognizeNonZipBytes(std::string_view bytes);

// What a zip archive without a workbook part is (a binary workbook, an
// OpenDocument file, another office document), from its member list and its
// "mimetype" member. nullopt when it is nothing recognised.
std::optional<Failure> recognizeForeignPackage(Zippy::ZipArchive& archive);

}  // namespace tabulon
