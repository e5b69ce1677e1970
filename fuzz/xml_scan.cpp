// The lexical layer on arbitrary text, through the part reader: every tag
// found lies inside the text, in order, and the scan always moves forward;
// the row reader ends every such tag at the same place and reads the same
// r attribute; special markup read from any '<' stays inside the text.
#include "fuzz_support.h"
#include "parse/row_scan.h"
#include "parse/xml_lexer.h"
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
  const char* begin = text.data();
  const char* end = begin + size;
  structural::Index index(begin, end);
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextTag(text, pos, tag)) {
    require(tag.begin >= pos && tag.begin < tag.end && tag.end <= size, "tag outside the text");
    require(text[tag.begin] == '<' && (text[tag.end - 1] == '>' || (tag.end < size && text[tag.end] == '<')),
            "tag not between '<' and '>' nor ended before a '<'");
    rowscan::RawTag row;
    require(rowscan::readTag(index, begin + tag.begin, row) && row.begin == begin + tag.begin, "row reader missed a tag");
    require(row.end == begin + tag.end && row.closing == tag.closing && row.selfClosing == tag.selfClosing,
            "the row reader ends a tag elsewhere");
    require(!tag.name.empty() && tag.name.ends_with(tag.localName), "bad tag name");
    require(inside(tag.name, text) && inside(tag.attributes, text), "tag parts outside the text");
    require(!(tag.closing && tag.selfClosing), "tag both closing and self-closing");
    std::string_view value;
    const bool hasR = xml::attribute(tag.attributes, "r", value);
    if (hasR) require(inside(value, tag.attributes), "value outside the tag");
    // An end tag has no attributes for the row reader.
    if (!tag.closing) require(hasR == row.hasR && (!hasR || value == row.r), "the readers read r differently");
    if (xml::prefixedAttribute(tag.attributes, "id", value)) require(inside(value, tag.attributes), "value outside the tag");
    const std::size_t end = xml::findEndTag(text, tag.end, tag.localName);
    require(end == std::string_view::npos || (end > tag.end && end <= size), "end tag outside the text");
    pos = tag.end;
  }
  // Special markup from every '<'.
  for (const char* lt = lexer::findLt(begin, end); lt < end; lt = lexer::findLt(lt + 1, end)) {
    if (!lexer::opensSpecialMarkup(lt, end)) continue;
    const lexer::Special s = lexer::readSpecialMarkup(lt, end);
    require(s.content > lt && s.content <= s.contentEnd && s.contentEnd <= end, "markup content outside the text");
    require(s.after == nullptr || (s.after > s.contentEnd && s.after <= end), "markup ends outside the text");
  }
  // The whole input as an attribute list.
  std::string_view value;
  if (xml::attribute(text, "ref", value)) require(inside(value, text), "value outside the text");
  if (xml::prefixedAttribute(text, "id", value)) require(inside(value, text), "value outside the text");
  if (xml::nextElement(text, 0, "row", tag)) require(tag.localName == "row" && tag.end <= size, "bad element");
  return 0;
}
