// Arbitrary bytes as an archive file: Open, then stream and read every
// entry. Streaming and reading must agree: the same bytes, or both fail.
#include <string>

#include "fuzz_support.h"
#include "zip/zip_archive.h"

namespace {

struct Outcome {
  bool ok = false;
  std::string bytesOrMessage;
};

Outcome streamed(Zippy::ZipArchive& archive, const std::string& name, std::size_t chunkSize) {
  Outcome result;
  try {
    std::string all;
    archive.StreamEntry(name, [&](std::string_view piece) {
      tabulon::fuzz::require(!piece.empty() && piece.size() <= chunkSize, "stream piece size");
      all += piece;
      return true;
    }, chunkSize);
    result = {true, std::move(all)};
  } catch (const Zippy::ZipRuntimeError& e) {
    result = {false, e.what()};
  }
  return result;
}

Outcome read(Zippy::ZipArchive& archive, const std::string& name) {
  try {
    return {true, archive.GetEntry(name).GetText()};
  } catch (const Zippy::ZipRuntimeError& e) {
    return {false, e.what()};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tabulon::fuzz::ScratchFile file(".zip");
  const std::string& path = file.write(data, size);

  Zippy::ZipArchive archive;
  try {
    archive.Open(path);
  } catch (const Zippy::ZipRuntimeError&) {
    return 0;
  }
  std::vector<std::string> names;
  for (const auto& entry : archive.Entries()) {
    tabulon::fuzz::require(entry.info.name.size() <= 511, "entry name longer than 511 bytes");
    if (!entry.info.isDirectory) names.push_back(entry.info.name);
  }
  tabulon::fuzz::require(names == archive.GetEntryNames(), "GetEntryNames differs from the file entries");

  // A chunk size from the input's last byte, so pieces of 1 byte get tried.
  const std::size_t chunkSize = size > 0 ? 1 + data[size - 1] % 64 : 1;
  for (const std::string& name : names) {
    Outcome fromStream = streamed(archive, name, chunkSize);
    Outcome fromRead = read(archive, name);
    tabulon::fuzz::require(fromStream.ok == fromRead.ok, "StreamEntry and GetEntry disagree on success");
    // Messages may differ: a member that is both corrupt and longer than
    // declared fails on whichever the decoder meets first, which depends
    // on how much it decodes per step.
    if (fromStream.ok)
      tabulon::fuzz::require(fromStream.bytesOrMessage == fromRead.bytesOrMessage,
                             "StreamEntry and GetEntry give different bytes");
  }
  archive.Close();
  return 0;
}
