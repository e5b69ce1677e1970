#include "parse/cell_value.h"

#include "cells/serial_date.h"
#include "cells/xml_text.h"
#include "parse/shared_strings.h"

namespace tabulon {

using rowscan::CellInput;

std::vector<std::uint8_t> markEditedStrings(const std::vector<std::string>& strings) {
  std::vector<std::uint8_t> edits(strings.size());
  for (std::size_t i = 0; i < strings.size(); ++i) edits[i] = rowscan::holdsEditedCharacter(strings[i]);
  return edits;
}

namespace {

bool isDateStyle(std::string_view style, const std::vector<int>& styles) {
  std::uint64_t index = 0;
  if (!rowscan::parseIndex(style, index)) return false;
  return index < styles.size() && styles[static_cast<std::size_t>(index)] == 1;
}

CellType typeOfValue(std::string_view type) {
  if (type.empty() || type == "n") return CellType::Number;
  if (type.size() == 1) {
    if (type[0] == 'b') return CellType::Boolean;
    if (type[0] == 'e') return CellType::Error;
    if (type[0] == 'd') return CellType::IsoDate;
  }
  return CellType::Text;
}

}  // namespace

void resolveCell(const CellInput& cell, const SheetContext& context, const std::vector<std::uint8_t>& edits,
                 std::string& scratch, ResolvedCell& resolved) {
  const std::string_view type = cell.type;
  resolved.type = CellType::None;
  resolved.emptyText = false;
  if (type.size() == 1 && type[0] == 's') {
    std::uint64_t index = 0;
    if (!cell.hasValue || !rowscan::parseIndex(cell.value, index)) return;
    const std::vector<std::string>& strings = *context.sharedStrings;
    if (index >= strings.size()) return;
    resolved.text = strings[static_cast<std::size_t>(index)];
    if (resolved.text.empty()) {
      resolved.emptyText = true;
      return;
    }
    resolved.shared = static_cast<std::uint32_t>(index);
    resolved.edit = edits[static_cast<std::size_t>(index)] != 0;
    resolved.type = CellType::SharedText;
    return;
  }
  if (type == "inlineStr" && cell.hasInline) {
    scratch = collectRuns(cell.inlineContent);
    if (scratch.empty()) {
      resolved.emptyText = true;
      return;
    }
    resolved.text = scratch;
    resolved.edit = rowscan::holdsEditedCharacter(scratch);
    resolved.type = CellType::Text;
    return;
  }
  CellType kind = typeOfValue(type);
  if (!cell.hasValue || cell.value.empty()) {
    resolved.emptyText = cell.hasValue && kind == CellType::Text;
    return;
  }
  const std::string_view value = cell.value;
  if (kind == CellType::Number && !cell.style.empty() && isDateStyle(cell.style, *context.styles)) {
    double serial;
    if (rowscan::parseNumber(value, serial)) {
      if (context.date1904) serial += kDate1904Offset;
      resolved.serial = serial;
      kind = CellType::Date;
    }
  }
  resolved.text = value;
  resolved.edit = cell.valueEdited;
  const bool stringResult = type == "str";
  if (resolved.edit || (stringResult && value.find("_x") != std::string_view::npos)) {
    if (value.find_first_of("&\r_") != std::string_view::npos) {
      scratch.clear();
      appendDecodedXml(scratch, value);
      if (stringResult) decodeCharacterEscapes(scratch);
      resolved.text = scratch;
    }
    resolved.edit = rowscan::holdsEditedCharacter(resolved.text);
  }
  if (resolved.text.empty()) {
    resolved.emptyText = kind == CellType::Text;
    return;
  }
  resolved.type = kind;
}

}  // namespace tabulon
