// Writes small .xlsx (zip) files from XML strings, so each test shows its
// fixture inline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tabulon::test {

struct Member {
  Member() = default;
  Member(std::string name, std::string bytes, bool stored = false)
      : name(std::move(name)), bytes(std::move(bytes)), stored(stored) {}

  std::string name;
  std::string bytes;
  bool stored = false;  // true: no compression
  // Fields written as given instead of computed, to make damaged archives.
  std::optional<std::uint32_t> crc32;
  std::optional<std::uint32_t> compressedSize;    // central directory and local header
  std::optional<std::uint32_t> uncompressedSize;  // central directory and local header
  std::optional<std::uint16_t> method;
  std::uint16_t flags = 0;                        // general purpose bits (1: encrypted)
  std::uint32_t externalAttributes = 0;
};

// The bytes of a zip archive holding the members in the given order
// (duplicate names allowed).
std::string zipBytes(const std::vector<Member>& members);

// Writes zipBytes(members) to path.
void writeZip(const std::string& path, const std::vector<Member>& members);

// Raw deflate of bytes (no header), as stored in a zip member.
std::string deflateRaw(const std::string& bytes);

// A workbook's parts, assembled into the usual package layout.
struct Workbook {
  // Sheet names and their worksheet XML (the content of <worksheet>, or a
  // whole part when it starts with "<?xml" or "<worksheet").
  std::vector<std::pair<std::string, std::string>> sheets;
  std::string sharedStrings;   // the <si> items, "" for no shared-strings part
  std::string cellXfs;         // the <xf> items, "" for no styles part
  std::string numFmts;         // the <numFmt> items of the styles part
  bool date1904 = false;
  std::vector<Member> extra;   // further members, added last

  // The members: [Content_Types].xml, _rels/.rels, xl/workbook.xml,
  // xl/_rels/workbook.xml.rels, xl/worksheets/sheetN.xml, optional
  // xl/sharedStrings.xml and xl/styles.xml, then extra.
  std::vector<Member> members() const;
  void write(const std::string& path) const { writeZip(path, members()); }
};

// A worksheet part wrapping rows: dimension ref (omitted when empty) and the
// <sheetData> content.
std::string worksheet(const std::string& dimension, const std::string& rows);

// Escapes &, <, >, " for use in XML text or attribute values.
std::string xmlEscape(const std::string& text);

}  // namespace tabulon::test
