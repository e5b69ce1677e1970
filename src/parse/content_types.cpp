#include "parse/content_types.h"

#include "cells/xml_text.h"
#include "parse/xml_scan.h"

namespace tabulon {

std::unordered_map<std::string, std::string> scanContentTypes(std::string_view text) {
  std::unordered_map<std::string, std::string> types;
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextElement(text, pos, "Override", tag)) {
    pos = tag.end;
    if (tag.closing) continue;
    std::string_view part, type;
    if (!xml::attribute(tag.attributes, "PartName", part) || !xml::attribute(tag.attributes, "ContentType", type))
      continue;
    std::string name = decodeXml(trimXmlSpace(part));
    if (!name.empty() && name.front() == '/') name.erase(0, 1);
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    types.emplace(std::move(name), decodeXml(trimXmlSpace(type)));
  }
  return types;
}

std::string_view contentKind(std::string_view type) {
  const std::size_t plus = type.rfind('+');
  if (plus != std::string_view::npos) type = type.substr(0, plus);
  const std::size_t dot = type.find_last_of("./");
  return dot == std::string_view::npos ? type : type.substr(dot + 1);
}

}  // namespace tabulon
