#include "parse/xml_scan.h"

#include <algorithm>

#include "parse/xml_lexer.h"

namespace tabulon::xml {

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::string_view span(const char* begin, const char* end) {
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Calls visit(name, value) for each attribute of the text, as a tag's
// attributes are walked, until visit returns true.
template <class Visit>
bool findAttribute(std::string_view attributes, Visit&& visit) {
  bool found = false;
  lexer::TagClose close;
  lexer::walkAttributes(attributes.data(), attributes.data() + attributes.size(), close,
                        [&](std::string_view name, std::string_view value) {
                          if (!found && !name.empty()) found = visit(name, value);
                        });
  return found;
}

}  // namespace

bool nextTag(std::string_view text, std::size_t pos, Tag& tag) {
  const char* base = text.data();
  const char* end = base + text.size();
  const char* p = base + std::min(pos, text.size());
  for (;;) {
    const char* lt = lexer::findLt(p, end);
    if (end - lt < 2) return false;
    if (lexer::opensSpecialMarkup(lt, end)) {
      p = lexer::afterSpecialMarkup(lt, end);
      if (p == nullptr) return false;
      continue;
    }
    const bool closing = lt[1] == '/';
    const char* name = closing ? lt + 2 : lt + 1;
    const char* nameStop = lexer::nameEnd(name, end);
    if (nameStop >= end) return false;
    if (nameStop == name) {
      p = lt + 1;  // a lone '<' in damaged text, not a tag
      continue;
    }
    // The tag ends just past its '>', or before the '<' that ends a damaged tag.
    const char* tagEnd = nullptr;
    const char* attributesEnd = nullptr;
    lexer::TagClose close;
    if (closing) {
      const char* stop = lexer::endTagStop(nameStop, end);
      if (stop >= end) return false;
      tagEnd = *stop == '>' ? stop + 1 : stop;
      attributesEnd = stop;
    } else {
      tagEnd = lexer::walkAttributes(nameStop, end, close, [](std::string_view, std::string_view) {});
      if (tagEnd == nullptr) return false;
      attributesEnd = close.damaged ? tagEnd : close.selfClosing ? tagEnd - 2 : tagEnd - 1;
    }
    const bool selfClosing = close.selfClosing;
    tag.begin = static_cast<std::size_t>(lt - base);
    tag.end = static_cast<std::size_t>(tagEnd - base);
    tag.name = span(name, nameStop);
    tag.localName = lexer::localName(name, nameStop);
    tag.closing = closing;
    tag.selfClosing = selfClosing;
    tag.attributes = span(nameStop, attributesEnd);
    return true;
  }
}

bool nextElement(std::string_view text, std::size_t pos, std::string_view localName, Tag& tag) {
  while (nextTag(text, pos, tag)) {
    if (tag.localName == localName) return true;
    pos = tag.end;
  }
  return false;
}

bool attribute(std::string_view attributes, std::string_view name, std::string_view& value) {
  return findAttribute(attributes, [&](std::string_view found, std::string_view foundValue) {
    if (found != name) return false;
    value = foundValue;
    return true;
  });
}

bool prefixedAttribute(std::string_view attributes, std::string_view localName,
                       std::string_view& value) {
  return findAttribute(attributes, [&](std::string_view found, std::string_view foundValue) {
    const std::size_t colon = found.rfind(':');
    if (colon == npos || colon == 0 || found.substr(colon + 1) != localName) return false;
    value = foundValue;
    return true;
  });
}

std::size_t findEndTag(std::string_view text, std::size_t pos, std::string_view localName) {
  const char* base = text.data();
  const char* end = base + text.size();
  while (pos < text.size()) {
    const std::size_t lt = text.find("</", pos);
    if (lt == npos) return npos;
    const char* name = base + lt + 2;
    const char* nameStop = lexer::nameEnd(name, end);
    pos = lt + 2;
    if (lexer::localName(name, nameStop) != localName) continue;
    const char* after = lexer::skipSpace(nameStop, end);
    if (after < end && *after == '>') return static_cast<std::size_t>(after + 1 - base);
  }
  return npos;
}

}  // namespace tabulon::xml
