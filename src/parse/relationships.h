// Package relationship parts ("*.rels").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tabulon {

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // decoded, as written (relative or absolute)
  bool external = false;  // TargetMode="External"
};

// Every Relationship element, in document order.
std::vector<Relationship> scanRelationships(std::string_view relsXml);

// The last path segment of a relationship type, e.g. "worksheet" for both
// the transitional and the strict namespace.
std::string_view relationshipKind(std::string_view type);

// The archive entry name a target points to, seen from the part at
// sourcePart ("xl/workbook.xml"): relative to the source's folder, or from
// the archive root when it starts with "/"; "." and ".." segments resolved.
std::string resolveTarget(std::string_view sourcePart, std::string_view target);

}  // namespace tabulon
