#include "parse/shared_strings.h"

#include <charconv>
#include <cstring>

#include "cells/xml_text.h"
#include "parse/xml_lexer.h"
#include "parse/xml_scan.h"

namespace tabulon {

namespace {

// Appends the character data raw, cut out of a run, decoded. A run normally
// holds plain text; a CDATA section is taken literally and a comment dropped.
void appendCharacterData(std::string& out, std::string_view raw) {
  if (raw.empty()) return;
  if (std::memchr(raw.data(), '<', raw.size()) == nullptr) {
    appendDecodedXml(out, raw);
    return;
  }
  const char* p = raw.data();
  const char* end = p + raw.size();
  while (p < end) {
    const char* lt = lexer::findLt(p, end);
    appendDecodedXml(out, std::string_view(p, static_cast<std::size_t>(lt - p)));
    if (lt == end) return;
    const lexer::Markup kind = lexer::markupAt(lt, end);
    if (kind != lexer::Markup::CData && kind != lexer::Markup::Comment) {
      out.push_back('<');  // stray markup of a damaged run stays as written
      p = lt + 1;
      continue;
    }
    const lexer::Special markup = lexer::readSpecialMarkup(lt, end);
    if (kind == lexer::Markup::CData)
      out.append(markup.content, static_cast<std::size_t>(markup.contentEnd - markup.content));
    p = markup.after == nullptr ? end : markup.after;
  }
}

bool endsContent(const xml::Tag& tag, std::string_view stop) {
  return tag.closing && !stop.empty() && tag.localName == stop;
}

// Appends the decoded texts of the runs found from pos to out. When stop is
// not empty the content ends at the end tag </stop> (any prefix); returns the
// position just past it, or the end of text when it is missing.
std::size_t appendRuns(std::string_view text, std::size_t pos, std::string_view stop,
                       std::string& out) {
  xml::Tag tag;
  while (xml::nextTag(text, pos, tag)) {
    pos = tag.end;
    if (endsContent(tag, stop)) return pos;
    // A self-closed run is empty; other self-closed or end tags carry no text.
    if (tag.closing || tag.selfClosing) continue;
    if (tag.localName == "t") {
      // The text runs to </t>; without one, to the end of the content, which
      // makes this the last run.
      const std::size_t textBegin = tag.end;
      xml::Tag inner;
      for (;;) {
        if (!xml::nextTag(text, pos, inner)) {
          appendCharacterData(out, text.substr(textBegin));
          return text.size();
        }
        pos = inner.end;
        if (inner.closing && inner.localName == "t") {
          appendCharacterData(out, text.substr(textBegin, inner.begin - textBegin));
          break;
        }
        if (endsContent(inner, stop)) {
          appendCharacterData(out, text.substr(textBegin, inner.begin - textBegin));
          return pos;
        }
      }
    } else if (tag.localName == "rPh") {
      // A phonetic reading is an aid for sorting, not part of the text.
      xml::Tag inner;
      for (;;) {
        if (!xml::nextTag(text, pos, inner)) return text.size();
        pos = inner.end;
        if (inner.closing && inner.localName == "rPh") break;
        if (endsContent(inner, stop)) return pos;
      }
    }
  }
  return text.size();
}

// The number of items the part declares, bounded by how many could fit in
// the text, so a false declaration cannot make the table reserve too much.
std::size_t expectedItems(std::string_view text) {
  xml::Tag tag;
  if (!xml::nextTag(text, 0, tag) || tag.localName != "sst") return 0;
  std::string_view value;
  if (!xml::attribute(tag.attributes, "uniqueCount", value)) return 0;
  std::size_t count = 0;
  std::from_chars(value.data(), value.data() + value.size(), count);
  const std::size_t fit = text.size() / 5;  // "<si/>"
  return count < fit ? count : fit;
}

}  // namespace

std::string collectRuns(std::string_view itemContent) {
  std::string entry;
  appendRuns(itemContent, 0, {}, entry);
  decodeCharacterEscapes(entry);
  return entry;
}

}  // namespace tabulon

std::vector<std::string> getSharedStrings(std::string text) { return tabulon::readSharedStrings(text); }

std::vector<std::string> tabulon::readSharedStrings(std::string_view view) {
  using namespace tabulon;
  std::vector<std::string> table;
  table.reserve(expectedItems(view));
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextTag(view, pos, tag)) {
    pos = tag.end;
    if (tag.localName != "si" || tag.closing) continue;
    std::string& entry = table.emplace_back();
    // Without its end tag an item takes the rest of the text and is the last.
    if (!tag.selfClosing) pos = appendRuns(view, pos, "si", entry);
    decodeCharacterEscapes(entry);
  }
  return table;
}
