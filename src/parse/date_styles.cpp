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

// The workbook's own format codes, by id: whether each writes a date.
std::unordered_map<int, bool> customFormats(std::string_view text) {
  std::unordered_map<int, bool> formats;
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
    if (readId(tag.attributes, id) && xml::attribute(tag.attributes, "formatCode", code))
      formats[id] = isDateFormatCode(decodeXml(code));
  }
  return formats;
}

}  // namespace

std::vector<int> readDateStyles(std::string_view text) {
  const std::unordered_map<int, bool> custom = customFormats(text);
  std::vector<int> flags = cellFormatIds(text);
  for (int& id : flags) {
    auto own = custom.find(id);
    id = (own != custom.end() ? own->second : isBuiltInDateFormat(id)) ? 1 : 0;
  }
  return flags;
}

}  // namespace tabulon
