#include "cells/text_edit.h"

#include <algorithm>
#include <cstring>

namespace {

// With a one-byte pattern nothing an erase brings together can form a new
// occurrence before the erase point, so one forward pass that drops each
// occurrence and the byte after it gives the same text as searching again
// from the start.
void removeByteAndNext(std::string& text, char c) {
  char* s = text.data();
  const std::size_t n = text.size();
  const void* hit = std::memchr(s, c, n);
  if (hit == nullptr) return;
  std::size_t w = static_cast<std::size_t>(static_cast<const char*>(hit) - s);
  std::size_t r = w;
  while (r < n) {
    // s[r] is an occurrence: drop it and the byte after it.
    r += 2;
    if (r >= n) break;
    const void* next = std::memchr(s + r, c, n - r);
    const std::size_t end =
        next == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(next) - s);
    std::memmove(s + w, s + r, end - r);
    w += end - r;
    r = end;
  }
  text.resize(w);
}

}  // namespace

void removeChar(std::string& text, std::string pattern) {
  const std::size_t m = pattern.size();
  if (m == 0) return;
  if (m == 1) {
    removeByteAndNext(text, pattern[0]);
    return;
  }
  // The text is kept as a finished prefix s[0, w), which never holds the
  // pattern, followed by the unread rest s[r, n). Bytes move over one at a
  // time, so the first occurrence of the text as it stands is the first time
  // the prefix ends with the pattern. Erasing its first two bytes leaves the
  // pattern's tail, which goes back in front of the unread rest to be looked
  // at again: it may complete an occurrence that starts earlier.
  char* s = text.data();
  const std::size_t n = text.size();
  const std::size_t keep = m - 2;
  std::size_t w = 0;
  std::size_t r = 0;
  while (r < n) {
    s[w++] = s[r++];
    if (w >= m && s[w - 1] == pattern[m - 1] &&
        std::memcmp(s + w - m, pattern.data(), m) == 0) {
      w -= m;
      r -= keep;
      std::memcpy(s + r, pattern.data() + 2, keep);
    }
  }
  text.resize(w);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t hit = text.find(from); hit != std::string::npos;
       hit = text.find(from, start)) {
    result.append(text, start, hit - start);
    result.append(to);
    start = hit + from.size();
  }
  result.append(text, start, std::string::npos);
  text.swap(result);
}

void eraseSeparators(std::string& text) {
  const auto kept = std::remove_if(text.begin(), text.end(), [](char c) { return c == ';' || c == '\r'; });
  text.erase(kept, text.end());
}
