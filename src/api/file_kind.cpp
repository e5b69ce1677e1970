#include "api/file_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cells/xml_text.h"

namespace tabulon {
namespace {

constexpr char kProtected[] = "password-protected; save it without a password or decrypt it first";

std::uint32_t le32(std::string_view b, std::size_t at) {
  if (at + 4 > b.size()) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t le16(std::string_view b, std::size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}

// Sector numbers at and above this mark the end of a chain or free space.
constexpr std::uint32_t kLastSector = 0xFFFFFFFAu;

// The stream and storage names of a compound file's directory, as ASCII
// (other characters become '?'). Empty when the directory cannot be read.
// Every loop is bounded by the file's sector count, so a damaged chain
// ends rather than runs in circles.
std::vector<std::string> compoundDirectory(const ByteReader& read, std::uint64_t size) {
  const std::string header = read(0, 512);
  if (header.size() < 512) return {};
  const unsigned shift = le16(header, 30);
  if (shift != 9 && shift != 12) return {};
  const std::uint64_t sectorSize = std::uint64_t{1} << shift;
  const std::uint64_t sectors = size / sectorSize;
  auto sector = [&](std::uint32_t n) { return read((static_cast<std::uint64_t>(n) + 1) * sectorSize, sectorSize); };

  // The sectors of the allocation table: 109 in the header, the rest in a
  // chain of further sectors, each ending with the next one's number.
  std::vector<std::uint32_t> fatSectors;
  const std::uint32_t fatCount = le32(header, 44);
  for (std::size_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(le32(header, 76 + 4 * i));
  std::uint32_t next = le32(header, 68);
  for (std::uint64_t guard = 0; next < kLastSector && fatSectors.size() < fatCount && guard < sectors; ++guard) {
    const std::string more = sector(next);
    if (more.size() < sectorSize) break;
    for (std::uint64_t at = 0; at + 4 < sectorSize && fatSectors.size() < fatCount; at += 4)
      fatSectors.push_back(le32(more, at));
    next = le32(more, sectorSize - 4);
  }
  const std::uint64_t perSector = sectorSize / 4;
  auto nextInChain = [&](std::uint32_t n) -> std::uint32_t {
    const std::uint64_t which = n / perSector;
    if (which >= fatSectors.size() || fatSectors[which] >= kLastSector) return 0xFFFFFFFEu;
    const std::string table = sector(fatSectors[which]);
    return le32(table, (n % perSector) * 4);
  };

  std::vector<std::string> names;
  std::uint32_t at = le32(header, 48);
  for (std::uint64_t guard = 0; at < kLastSector && guard < sectors && guard < 4096; ++guard) {
    const std::string entries = sector(at);
    if (entries.size() < sectorSize) break;
    for (std::uint64_t e = 0; e + 128 <= sectorSize; e += 128) {
      const std::uint16_t length = le16(entries, e + 64);
      const unsigned char type = static_cast<unsigned char>(entries[e + 66]);
      if (type == 0 || length < 2 || length > 64) continue;
      std::string name;
      for (std::size_t c = 0; c + 2 < length; c += 2) {
        const std::uint16_t unit = le16(entries, e + c);
        name += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
      }
      names.push_back(std::move(name));
    }
    at = nextInChain(at);
  }
  return names;
}

bool holds(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

Failure compoundFailure(const std::vector<std::string>& names) {
  if (holds(names, "EncryptionInfo") || holds(names, "EncryptedPackage"))
    return Failure(TABULON_ENCRYPTED, kProtected);
  if (holds(names, "Workbook") || holds(names, "Book"))
    return Failure(TABULON_LEGACY_XLS,
                   "a legacy .xls workbook, which this library does not read; save it as .xlsx first");
  if (holds(names, "WordDocument"))
    return Failure(TABULON_NOT_A_SPREADSHEET, "not a workbook: a word-processing document (.doc)");
  if (holds(names, "PowerPoint Document"))
    return Failure(TABULON_NOT_A_SPREADSHEET, "not a workbook: a presentation (.ppt)");
  return Failure(TABULON_NOT_A_SPREADSHEET, "not a workbook: a compound document holding no workbook");
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Text without control characters other than white space (UTF-8 allowed).
bool looksLikeText(std::string_view head) {
  if (head.empty()) return false;
  for (char ch : head) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    if (c == 0x7F) return false;
  }
  return true;
}

std::optional<Failure> notASpreadsheet(const char* what) {
  return Failure(TABULON_NOT_A_SPREADSHEET, std::string("not a workbook: ") + what);
}

}  // namespace

std::optional<Failure> recognizeNonZip(const ByteReader& read, std::uint64_t size) {
  const std::string head = read(0, 4096);
  std::string_view h(head);
  if (h.starts_with("PK")) return std::nullopt;  // a zip archive, damaged
  if (h.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return compoundFailure(compoundDirectory(read, size));
  if (h.starts_with("%PDF")) return notASpreadsheet("a PDF document");
  if (h.starts_with("\x89PNG") || h.starts_with("\xFF\xD8\xFF") || h.starts_with("GIF8"))
    return notASpreadsheet("an image");
  if (h.starts_with("\x1F\x8B")) return notASpreadsheet("a gzip-compressed file");
  std::string_view text = h;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && isXmlSpace(text[0])) text.remove_prefix(1);
  if (text.starts_with("<?xml") && h.find("urn:schemas-microsoft-com:office:spreadsheet") != std::string_view::npos)
    return notASpreadsheet("an XML spreadsheet of the 2003 format; save it as .xlsx first");
  if (startsWithNoCase(text, "<!doctype html") || startsWithNoCase(text, "<html") ||
      startsWithNoCase(text, "<table"))
    return notASpreadsheet("an HTML page");
  if (looksLikeText(h)) return notASpreadsheet("a text file (CSV or other plain text)");
  return std::nullopt;
}

std::optional<Failure> recognizeNonZipFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status;
  std::optional<Failure> result;
  if (fstat(fd, &status) == 0) {
    auto read = [fd](std::uint64_t offset, std::size_t size) {
      std::string bytes(size, '\0');
      std::size_t got = 0;
      while (got < size) {
        const ssize_t n = pread(fd, bytes.data() + got, size - got, static_cast<off_t>(offset + got));
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      bytes.resize(got);
      return bytes;
    };
    try {
      result = recognizeNonZip(read, static_cast<std::uint64_t>(status.st_size));
    } catch (...) {
      close(fd);
      throw;
    }
  }
  close(fd);
  return result;
}

std::optional<Failure> recognizeNonZipBytes(std::string_view bytes) {
  auto read = [bytes](std::uint64_t offset, std::size_t size) {
    if (offset >= bytes.size()) return std::string();
    return std::string(bytes.substr(static_cast<std::size_t>(offset), size));
  };
  return recognizeNonZip(read, bytes.size());
}

std::optional<Failure> recognizeForeignPackage(Zippy::ZipArchive& archive) {
  bool mimetype = false, word = false, slides = false;
  for (const auto& entry : archive.Entries()) {
    std::string name = entry.info.name;
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (name == "xl/workbook.bin")
      return Failure(TABULON_BINARY_XLSB,
                     "a binary workbook (.xlsb), which this library does not read; save it as .xlsx first");
    mimetype = mimetype || entry.info.name == "mimetype";
    word = word || name == "word/document.xml";
    slides = slides || name == "ppt/presentation.xml";
  }
  if (mimetype) {
    std::string type;
    try {
      type = std::string(archive.GetEntry("mimetype").GetView().substr(0, 200));
    } catch (const Zippy::ZipRuntimeError&) {
      // Unreadable: nothing to tell by.
    }
    if (type.starts_with("application/vnd.oasis.opendocument.spreadsheet"))
      return Failure(TABULON_OPENDOCUMENT,
                     "an OpenDocument spreadsheet (.ods), which this library does not read; save it as .xlsx first");
    if (type.starts_with("application/vnd.oasis.opendocument."))
      return notASpreadsheet("an OpenDocument file of another kind");
  }
  if (word) return notASpreadsheet("a word-processing document (.docx)");
  if (slides) return notASpreadsheet("a presentation (.pptx)");
  return std::nullopt;
}

}  // namespace tabulon
