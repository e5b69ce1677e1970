#include "parse/xml_scan.h"

#include <cstring>

namespace tabulon::xml {

namespace {

constexpr std::size_t npos = std::string_view::npos;

inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t skipSpace(std::string_view text, std::size_t pos) {
  while (pos < text.size() && isSpace(text[pos])) ++pos;
  return pos;
}

std::string_view localPart(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  return colon == npos ? name : name.substr(colon + 1);
}

// Where a markup declaration starting at the "<!" at pos ends (just past its
// '>'), npos when the text ends first. A document type declaration may hold an
// internal subset in brackets and quoted literals, both of which may contain '>'.
std::size_t declarationEnd(std::string_view text, std::size_t pos) {
  int brackets = 0;
  for (std::size_t i = pos + 2; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      i = text.find(c, i + 1);
      if (i == npos) return npos;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      if (brackets > 0) --brackets;
    } else if (c == '>' && brackets == 0) {
      return i + 1;
    }
  }
  return npos;
}

// Where the markup starting with "<!" or "<?" at pos ends, npos when cut off.
std::size_t specialEnd(std::string_view text, std::size_t pos) {
  std::string_view rest = text.substr(pos);
  std::string_view opener, closer;
  if (rest.starts_with("<!--")) {
    opener = "<!--";
    closer = "-->";
  } else if (rest.starts_with("<![CDATA[")) {
    opener = "<![CDATA[";
    closer = "]]>";
  } else if (rest.starts_with("<?")) {
    opener = "<?";
    closer = "?>";
  } else {
    return declarationEnd(text, pos);
  }
  const std::size_t close = text.find(closer, pos + opener.size());
  return close == npos ? npos : close + closer.size();
}

// Position of the '>' that ends a tag whose name ends at pos; a '>' inside a
// quoted attribute value does not count. npos when the text ends first.
std::size_t tagClose(std::string_view text, std::size_t pos) {
  for (std::size_t i = pos; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '>') return i;
    if (c != '=') continue;
    // Only a quote that opens a value (after '=') starts a quoted section, so
    // a stray quote elsewhere in a tag does not swallow the rest of the text.
    i = skipSpace(text, i + 1);
    if (i >= text.size()) return npos;
    if (text[i] == '"' || text[i] == '\'') {
      i = text.find(text[i], i + 1);
      if (i == npos) return npos;
    } else {
      --i;  // let the loop look at this character
    }
  }
  return npos;
}

// Calls visit(name, value) for each attribute until visit returns true.
template <class Visit>
bool findAttribute(std::string_view attributes, Visit&& visit) {
  std::size_t pos = 0;
  const std::size_t size = attributes.size();
  while (pos < size) {
    pos = skipSpace(attributes, pos);
    const std::size_t nameBegin = pos;
    while (pos < size && !isSpace(attributes[pos]) && attributes[pos] != '=') ++pos;
    const std::string_view name = attributes.substr(nameBegin, pos - nameBegin);
    pos = skipSpace(attributes, pos);
    if (pos >= size) return false;
    if (attributes[pos] != '=') continue;  // a bare word: the next name starts here
    pos = skipSpace(attributes, pos + 1);
    if (pos >= size) {
      return !name.empty() && visit(name, std::string_view());
    }
    std::string_view value;
    const char quote = attributes[pos];
    if (quote == '"' || quote == '\'') {
      const std::size_t close = attributes.find(quote, pos + 1);
      const std::size_t valueEnd = close == npos ? size : close;
      value = attributes.substr(pos + 1, valueEnd - pos - 1);
      pos = valueEnd == size ? size : valueEnd + 1;
    } else {
      const std::size_t valueBegin = pos;
      while (pos < size && !isSpace(attributes[pos])) ++pos;
      value = attributes.substr(valueBegin, pos - valueBegin);
    }
    if (!name.empty() && visit(name, value)) return true;
  }
  return false;
}

}  // namespace

bool nextTag(std::string_view text, std::size_t pos, Tag& tag) {
  const std::size_t size = text.size();
  while (pos < size) {
    const void* hit = std::memchr(text.data() + pos, '<', size - pos);
    if (hit == nullptr) return false;
    const std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (lt + 1 >= size) return false;
    const char first = text[lt + 1];
    if (first == '!' || first == '?') {
      pos = specialEnd(text, lt);
      if (pos == npos) return false;
      continue;
    }
    const bool closing = first == '/';
    const std::size_t nameBegin = closing ? lt + 2 : lt + 1;
    std::size_t nameEnd = nameBegin;
    while (nameEnd < size && !isSpace(text[nameEnd]) && text[nameEnd] != '>' &&
           text[nameEnd] != '/' && text[nameEnd] != '<')
      ++nameEnd;
    if (nameEnd >= size) return false;
    if (nameEnd == nameBegin) {
      pos = lt + 1;  // a lone '<' in damaged text, not a tag
      continue;
    }
    const std::size_t close = tagClose(text, nameEnd);
    if (close == npos) return false;
    tag.begin = lt;
    tag.end = close + 1;
    tag.name = text.substr(nameBegin, nameEnd - nameBegin);
    tag.localName = localPart(tag.name);
    tag.closing = closing;
    tag.selfClosing = !closing && close > nameEnd && text[close - 1] == '/';
    const std::size_t attributesEnd = tag.selfClosing ? close - 1 : close;
    tag.attributes = text.substr(nameEnd, attributesEnd - nameEnd);
    return true;
  }
  return false;
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
  const std::size_t size = text.size();
  while (pos < size) {
    const std::size_t lt = text.find("</", pos);
    if (lt == npos) return npos;
    std::size_t nameEnd = lt + 2;
    while (nameEnd < size && !isSpace(text[nameEnd]) && text[nameEnd] != '>' && text[nameEnd] != '<')
      ++nameEnd;
    pos = lt + 2;
    if (localPart(text.substr(lt + 2, nameEnd - lt - 2)) != localName) continue;
    const std::size_t after = skipSpace(text, nameEnd);
    if (after < size && text[after] == '>') return after + 1;
  }
  return npos;
}

}  // namespace tabulon::xml
