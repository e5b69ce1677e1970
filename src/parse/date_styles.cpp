#include "parse/date_styles.h"

#include <charconv>
#include <unordered_map>

#include "cells/date_format.h"
#include "cells/xml_text.h"
#include "parse/styles.h"
#include "parse/xml_scan.h"

namespace tabulon {
namespace {

bool readId(std::string_view attributes, int& id) {
  std::string_view value;
  if (!xml::attribute(attributes, "numFmtId", value)) return false;
  value = trimXmlSpace(value);
  auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), id);
  return ec == std::errc() && ptr != value.data();
}

// The workbook's own format codes, by id: the kind of number each writes
// (Plain for those that write no date).
std::unordered_map<int, NumberKind> customFormats(std::string_view text) {
  std::unordered_map<int, NumberKind> formats;
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextTag(text, pos, tag)) {
    pos = tag.end;
    if (tag.closing) {
      if (tag.localName == "numFmts") break;
      continue;
    }
    if (tag.localName == "cellXfs" || tag.localName == "cellStyleXfs") break;
    if (tag.localName != "numFmt") continue;
    int id = 0;
    std::string_view code;
    if (readId(tag.attributes, id) && xml::attribute(tag.attributes, "formatCode", code)) {
      const std::string decoded = decodeXml(code);
      NumberKind kind = NumberKind::Plain;
      if (isDateFormatCode(decoded)) {
        kind = numberKindOfCode(decoded);
        if (kind == NumberKind::Plain) kind = NumberKind::DateTime;
      }
      formats[id] = kind;
    }
  }
  return formats;
}

}  // namespace

std::vector<int> readDateStyles(std::string_view text) {
  const std::unordered_map<int, NumberKind> custom = customFormats(text);
  std::vector<int> flags = cellFormatIds(text);
  for (int& id : flags) {
    auto own = custom.find(id);
    id = (own != custom.end() ? own->second != NumberKind::Plain : isBuiltInDateFormat(id)) ? 1 : 0;
  }
  return flags;
}

std::vector<std::uint8_t> readNumberKinds(std::string_view text) {
  const std::unordered_map<int, NumberKind> custom = customFormats(text);
  const std::vector<int> ids = cellFormatIds(text);
  std::vector<std::uint8_t> kinds(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    auto own = custom.find(ids[i]);
    kinds[i] = static_cast<std::uint8_t>(own != custom.end() ? own->second : builtInNumberKind(ids[i]));
  }
  return kinds;
}

}  // namespace tabulon
