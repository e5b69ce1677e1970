// How much output one sheet may make. A small file must not make the
// process allocate gigabytes: every output is held against the machine's
// memory and against a multiple of the workbook's compressed size, as the
// archive holds each member against its compressed size.
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_archive.h"

namespace tabulon {

// Output bytes allowed per compressed byte of the workbook, and the
// allowance of any workbook however small (a sheet of a few kilobytes may
// still rightly fill a few megabytes).
inline constexpr std::uint64_t kOutputRatio = 256;
inline constexpr std::uint64_t kOutputFloor = std::uint64_t{64} << 20;

// The machine's physical memory in bytes; UINT64_MAX when unknown.
std::uint64_t physicalMemory();

// The compressed size of the archive's members together.
std::uint64_t compressedBytes(const Zippy::ZipArchive& archive);

// What the output of one sheet of a workbook of sourceBytes compressed
// bytes may take: kOutputRatio times those bytes, at least kOutputFloor.
std::uint64_t outputAllowance(std::uint64_t sourceBytes);

// The text of one sheet: a quarter of physical memory (the finished text
// is briefly held twice), the allowance, and the caller's limit (0: none).
std::uint64_t textLimit(std::uint64_t sourceBytes, std::uint64_t callerLimit);

// The typed columns of one sheet: half of physical memory and the allowance.
std::uint64_t columnLimit(std::uint64_t sourceBytes);

// A size for people: "12.6 GB", "384 MB", "900 bytes".
std::string sizeText(std::uint64_t bytes);

}  // namespace tabulon
