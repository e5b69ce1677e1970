// In-place edits of byte strings.
#pragma once

#include <string>

// Erases two characters (one at the very end) wherever pattern occurs,
// searching again after each erase, until pattern no longer occurs.
// An empty pattern leaves text unchanged.
void removeChar(std::string& text, std::string pattern);

// Replaces every occurrence of from by to, left to right, in one pass over
// the text as it was on entry. An empty from leaves text unchanged.
void replaceAll(std::string& text, const std::string& from, const std::string& to);

// Drops every ';' and carriage return, one byte each, and nothing else: the
// row text ends fields with ';' and lines with a line feed, so a cell can
// carry neither. Both are ASCII, so UTF-8 text stays UTF-8.
void eraseSeparators(std::string& text);
