// The tag scanner and attribute readers on arbitrary text: every tag found
// lies inside the text, in order, and the scan always moves forward.
#include "fuzz_support.h"
#include "parse/xml_scan.h"

namespace {

bool inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  using fuzz::require;
  const std::string_view text = fuzz::asText(data, size);
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextTag(text, pos, tag)) {
    require(tag.begin >= pos && tag.begin < tag.end && tag.end <= size, "tag outside the text");
    require(text[tag.begin] == '<' && text[tag.end - 1] == '>', "tag not between '<' and '>'");
    require(!tag.name.empty() && tag.name.ends_with(tag.localName), "bad tag name");
    require(inside(tag.name, text) && inside(tag.attributes, text), "tag parts outside the text");
    require(!(tag.closing && tag.selfClosing), "tag both closing and self-closing");
    std::string_view value;
    if (xml::attribute(tag.attributes, "r", value)) require(inside(value, tag.attributes), "value outside the tag");
    if (xml::prefixedAttribute(tag.attributes, "id", value)) require(inside(value, tag.attributes), "value outside the tag");
    const std::size_t end = xml::findEndTag(text, tag.end, tag.localName);
    require(end == std::string_view::npos || (end > tag.end && end <= size), "end tag outside the text");
    pos = tag.end;
  }
  // The whole input as an attribute list.
  std::string_view value;
  if (xml::attribute(text, "ref", value)) require(inside(value, text), "value outside the text");
  if (xml::prefixedAttribute(text, "id", value)) require(inside(value, text), "value outside the text");
  if (xml::nextElement(text, 0, "row", tag)) require(tag.localName == "row" && tag.end <= size, "bad element");
  return 0;
}
