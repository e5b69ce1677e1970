#include "parse/styles.h"

#include <charconv>

#include "cells/xml_text.h"
#include "parse/xml_scan.h"

namespace {

// The number format id of an xf element; 0, the format's default, when it is
// missing or does not parse.
int numberFormatId(std::string_view attributes) {
  std::string_view value;
  if (!tabulon::xml::attribute(attributes, "numFmtId", value)) return 0;
  while (!value.empty() && tabulon::isXmlSpace(value.front())) value.remove_prefix(1);
  int id = 0;
  std::from_chars(value.data(), value.data() + value.size(), id);
  return id;
}

}  // namespace

namespace tabulon {

std::vector<int> cellFormatIds(std::string_view text) {
  namespace xml = tabulon::xml;
  std::vector<int> ids;
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
  if (!found || tag.selfClosing) return ids;

  // The list runs to </cellXfs> (or the end of text), whatever its count
  // attribute says. Only its own entries count, not elements nested in them;
  // an xf that opens inside an unclosed xf is taken as its next sibling.
  std::size_t depth = 0;  // elements open inside the list
  bool inXf = false;      // the element open at depth 1 is an xf
  while (xml::nextTag(text, pos, tag)) {
    pos = tag.end;
    if (tag.closing) {
      if (tag.localName == "cellXfs") break;
      if (depth > 0 && --depth == 0) inXf = false;
      continue;
    }
    if (tag.localName == "xf" && (depth == 0 || (depth == 1 && inXf))) {
      ids.push_back(numberFormatId(tag.attributes));
      depth = tag.selfClosing ? 0 : 1;
      inXf = !tag.selfClosing;
    } else if (!tag.selfClosing) {
      ++depth;
    }
  }
  return ids;
}

}  // namespace tabulon

std::vector<int> getStyles(std::string_view text) {
  std::vector<int> flags = tabulon::cellFormatIds(text);
  // The built-in date and time formats; 12 and 13 just before them are
  // fractions ("# ?/?"), whose cells are numbers.
  for (int& id : flags) id = id >= 14 && id <= 22 ? 1 : 0;
  return flags;
}
