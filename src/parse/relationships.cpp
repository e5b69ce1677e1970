#include "parse/relationships.h"

#include "cells/xml_text.h"
#include "parse/xml_scan.h"

namespace tabulon {

namespace {

std::string decodedAttribute(std::string_view attributes, std::string_view name) {
  std::string_view value;
  return xml::attribute(attributes, name, value) ? decodeXml(value) : std::string();
}

}  // namespace

std::vector<Relationship> scanRelationships(std::string_view relsXml) {
  std::vector<Relationship> relationships;
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextElement(relsXml, pos, "Relationship", tag)) {
    pos = tag.end;
    if (tag.closing) continue;
    Relationship rel;
    rel.id = decodedAttribute(tag.attributes, "Id");
    rel.type = decodedAttribute(tag.attributes, "Type");
    rel.target = decodedAttribute(tag.attributes, "Target");
    std::string_view mode;
    rel.external = xml::attribute(tag.attributes, "TargetMode", mode) && trimXmlSpace(mode) == "External";
    relationships.push_back(std::move(rel));
  }
  return relationships;
}

std::string_view relationshipKind(std::string_view type) {
  const std::size_t slash = type.rfind('/');
  return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

std::string resolveTarget(std::string_view sourcePart, std::string_view target) {
  std::string path;
  if (target.starts_with('/')) {
    target.remove_prefix(1);
  } else {
    const std::size_t slash = sourcePart.rfind('/');
    if (slash != std::string_view::npos) path.assign(sourcePart.substr(0, slash + 1));
  }
  path.append(target);

  // Rebuild the path segment by segment; ".." above the root stays at the root.
  std::string resolved;
  resolved.reserve(path.size());
  std::string_view rest = path;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      const std::size_t cut = resolved.rfind('/');
      resolved.resize(cut == std::string::npos ? 0 : cut);
      continue;
    }
    if (!resolved.empty()) resolved.push_back('/');
    resolved.append(segment);
  }
  return resolved;
}

}  // namespace tabulon
