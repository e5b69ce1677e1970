#include "parse/date_styles.h"

#include <charconv>
#include <unordered_map>

#include "cells/date_format.h"
#include "cells/xml_text.h"
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
  std::vector<int> flags;
  xml::Tag tag;
  std::size_t pos = 0;
  bool found = false;
  while (xml::nextElement(text, pos, "cellXfs", tag)) {
    pos = tag.end;
    if (!tag.closing) {
      found = true;
      break;
    }
  }
  if (!found || tag.selfClosing) return flags;
  // Same reading of the list as the built-in table: its own xf entries up
  // to </cellXfs>, whatever its count says.
  std::size_t depth = 0;
  bool inXf = false;
  while (xml::nextTag(text, pos, tag)) {
    pos = tag.end;
    if (tag.closing) {
      if (tag.localName == "cellXfs") break;
      if (depth > 0 && --depth == 0) inXf = false;
      continue;
    }
    if (tag.localName == "xf" && (depth == 0 || (depth == 1 && inXf))) {
      int id = 0;
      if (!readId(tag.attributes, id)) id = 0;
      auto own = custom.find(id);
      flags.push_back((own != custom.end() ? own->second : isBuiltInDateFormat(id)) ? 1 : 0);
      depth = tag.selfClosing ? 0 : 1;
      inXf = !tag.selfClosing;
    } else if (!tag.selfClosing) {
      ++depth;
    }
  }
  return flags;
}

}  // namespace tabulon
