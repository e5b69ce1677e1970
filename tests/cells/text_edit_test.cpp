#include "cells/text_edit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

struct EditCase {
  std::string text;
  std::string pattern;
  std::string expected;
};

// The plain reading of the rule: erase two bytes at the first occurrence,
// then search again from the start.
std::string referenceRemove(std::string text, const std::string& pattern) {
  for (auto p = text.find(pattern); p != std::string::npos; p = text.find(pattern)) {
    text.erase(p, 2);
  }
  return text;
}

TEST(RemoveChar, ErasesOccurrenceAndTheByteAfterIt) {
  const EditCase cases[] = {
      {"x\r\ny", "\r", "xy"},
      {"x\ry", "\r", "x"},
      {"a;b", ";", "a"},
      {"a;b;c", ";", "a"},
      {"a; b", ";", "ab"},
      {"a;", ";", "a"},
      {";;", ";", ""},
      {";;;", ";", ""},
      {"plain text", ";", "plain text"},
      {"", ";", ""},
      {"aabb", "ab", ""},         // the erase joins 'a' and 'b' again
      {"xaabby", "ab", "xy"},
      {"abc", "abc", "c"},        // two bytes, not the pattern's length
      {"aabcbc", "abc", "acbc"},
  };
  for (const EditCase& c : cases) {
    std::string text = c.text;
    removeChar(text, c.pattern);
    EXPECT_EQ(text, c.expected) << "text: " << c.text;
  }
}

TEST(RemoveChar, EmptyPatternLeavesTextUnchanged) {
  for (std::string original : {std::string(), std::string("abc")}) {
    std::string text = original;
    removeChar(text, "");
    EXPECT_EQ(text, original);
  }
}

TEST(RemoveChar, AgreesWithRestartingSearchOnRandomTexts) {
  std::mt19937 rng(20240229);
  const char alphabet[] = {'a', 'b', ';', '\r'};
  std::uniform_int_distribution<int> pick(0, 3);
  std::uniform_int_distribution<int> text_length(0, 40);
  std::uniform_int_distribution<int> pattern_length(1, 4);
  for (int round = 0; round < 20000; ++round) {
    std::string text(static_cast<std::size_t>(text_length(rng)), ' ');
    for (char& c : text) c = alphabet[pick(rng)];
    std::string pattern(static_cast<std::size_t>(pattern_length(rng)), ' ');
    for (char& c : pattern) c = alphabet[pick(rng)];
    std::string edited = text;
    removeChar(edited, pattern);
    ASSERT_EQ(edited, referenceRemove(text, pattern))
        << "text: '" << text << "' pattern: '" << pattern << "'";
  }
}

TEST(RemoveChar, LargeTextWithManyOccurrences) {
  std::string text;
  for (int i = 0; i < 250000; ++i) text += "ab;c";
  removeChar(text, ";");
  std::string expected;
  for (int i = 0; i < 250000; ++i) expected += "ab";
  EXPECT_EQ(text, expected);

  std::string separators(1 << 20, ';');
  removeChar(separators, ";");
  EXPECT_EQ(separators, "");
}

TEST(EraseSeparators, DropsEachSeparatorAndNothingElse) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {"a;b", "ab"},
      {"мотоциклами; ремонт", "мотоциклами ремонт"},
      {"a;éb", "aéb"},    // the letter after ';' keeps both its bytes
      {"a;😀", "a😀"},  // and a four-byte one
      {"abc\r\ndef", "abc\ndef"},             // the line feed stays
      {"x\ry", "xy"},
      {";;;", ""},
      {"\r;\r;", ""},
      {";a;", "a"},
      {"a\n\tb", "a\n\tb"},
      {"", ""},
      {"plain text", "plain text"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    eraseSeparators(text);
    EXPECT_EQ(text, c.expected) << "text: " << c.text;
  }
}

TEST(ReplaceAll, ReplacesLeftToRightOnTheOriginalText) {
  struct Case {
    std::string text, from, to, expected;
  };
  const Case cases[] = {
      {"a&amp;b&amp;&amp;c", "&amp;", "&", "a&b&&c"},
      {"&amp;amp;", "&amp;", "&", "&amp;"},  // one level only
      {"aaa", "aa", "b", "ba"},
      {"abc", "", "x", "abc"},
      {"a-b-c", "-", "", "abc"},
      {"x", "x", "xx", "xx"},                // replacement is not searched again
      {"", "a", "b", ""},
      {"no match", "zz", "y", "no match"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    replaceAll(text, c.from, c.to);
    EXPECT_EQ(text, c.expected) << "text: " << c.text << " from: " << c.from;
  }
}

}  // namespace
