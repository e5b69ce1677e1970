// Minimal tag scanner shared by the part scanners: finds tags by local name
// (any namespace prefix) and reads attributes by whole name (any order,
// either quote style, white space around "=").
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon::xml {

struct Tag {
  std::size_t begin = 0;        // offset of '<'
  std::size_t end = 0;          // offset just past '>'
  std::string_view name;        // qualified name, e.g. "x:row"
  std::string_view localName;   // without prefix, e.g. "row"
  std::string_view attributes;  // text between the name and '>' or "/>"
  bool closing = false;         // </name>
  bool selfClosing = false;     // <name .../>
};

// Finds the next element tag at or after pos, skipping comments, processing
// instructions, CDATA sections and declarations. False at the end of text
// (a tag cut off by the end of text is not returned).
bool nextTag(std::string_view text, std::size_t pos, Tag& tag);

// Like nextTag, but only tags whose local name is localName.
bool nextElement(std::string_view text, std::size_t pos, std::string_view localName, Tag& tag);

// The value of the attribute whose whole name is name (compared with the
// prefix, e.g. "r" never matches "xr:r" nor "spans"). False when absent.
bool attribute(std::string_view attributes, std::string_view name, std::string_view& value);

// The value of the first attribute whose local name is localName and that
// carries a prefix (e.g. "id" matches "r:id" and "ns3:id", not "id").
bool prefixedAttribute(std::string_view attributes, std::string_view localName,
                       std::string_view& value);

// Position just past the end tag </localName> (any prefix) that closes an
// element whose content starts at pos; npos when absent.
std::size_t findEndTag(std::string_view text, std::size_t pos, std::string_view localName);

}  // namespace tabulon::xml
