// File names for batch conversion: one output file per workbook and sheet.
#pragma once

#include <string>
#include <vector>

namespace tabulon::cli {

// The component as a file-name part that needs no quoting in a shell and
// holds no separator: ASCII letters, digits, '_' and '-' are kept, bytes of
// multi-byte UTF-8 characters too; every other byte becomes '_' (so '.', which
// joins the parts of an output name, and '~', which numbers repeats, never
// occur). A leading '-' becomes '_'; the result is cut to at most 80 bytes,
// not inside a character, and is never empty.
std::string safePart(const std::string& component);

// One name part per workbook path, all different: the file name without its
// extension, with as many of its folders in front (joined by '_') as it takes
// to tell it from the other workbooks of the same name; a part still shared
// (the same path given twice) gets '~2', '~3', ... in the order given.
std::vector<std::string> workbookParts(const std::vector<std::string>& paths);

// One name part per sheet of a workbook, all different: safePart of each
// name, a repeat numbered '~2', '~3', ... in sheet order.
std::vector<std::string> sheetParts(const std::vector<std::string>& sheets);

}  // namespace tabulon::cli
