// Small helpers shared by the archive tests.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "zip/zip_archive.h"

namespace tabulon::test {

// Writes the members as an archive file in dir and returns its path.
inline std::string writeArchive(const TempDir& dir, const std::vector<Member>& members,
                                const std::string& fileName = "archive.zip") {
  std::string path = dir.file(fileName);
  writeZip(path, members);
  return path;
}

// Every entry's name, folders included, in list order.
inline std::vector<std::string> allNames(const Zippy::ZipArchive& archive) {
  std::vector<std::string> names;
  for (const auto& entry : archive.Entries()) names.push_back(entry.info.name);
  return names;
}

// The message of the ZipRuntimeError that fn raises, or "(no error)".
template <class Fn>
std::string runtimeErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const Zippy::ZipRuntimeError& e) {
    return e.what();
  }
  return "(no error)";
}

// Streams an entry and joins the pieces.
inline std::string streamed(Zippy::ZipArchive& archive, const std::string& name,
                            std::size_t chunkSize = 1 << 20) {
  std::string all;
  archive.StreamEntry(name, [&](std::string_view piece) {
    all += piece;
    return true;
  }, chunkSize);
  return all;
}

// Text that deflates well but not trivially, like a worksheet part.
inline std::string sheetLikeText(std::size_t size) {
  std::string text;
  text.reserve(size + 64);
  std::uint32_t state = 12345;
  for (int row = 1; text.size() < size; ++row) {
    state = state * 1664525u + 1013904223u;
    text += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) +
            "\"><v>" + std::to_string(state % 100000) + "</v></c></row>";
  }
  text.resize(size);
  return text;
}

}  // namespace tabulon::test
