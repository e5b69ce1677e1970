#include "parse/typed_cells.h"

#include <cmath>

#include "base/failure.h"
#include "cells/column_map.h"
#include "cells/date_time.h"
#include "cells/serial_date.h"
#include "parse/row_scan.h"

namespace tabulon {
namespace {

using rowscan::CellInput;

// A number cell's kind: a number when its text is a finite number written
// in full, else text as written.
TypedKind numberKind(std::string_view text, double& number) {
  return rowscan::parseNumber(text, number) && std::isfinite(number) ? TypedKind::Number : TypedKind::Text;
}

// True for a date whose text is the 1900-02-29 that never was: the one
// date a timestamp cannot give back.
bool isLeapDayText(double serial) {
  std::int64_t seconds = 0;
  return serialSeconds(serial, seconds) && seconds == kLeapDaySeconds;
}

bool readBoolean(std::string_view text, double& value) {
  text = trimXmlSpace(text);
  if (text == "1" || text == "true" || text == "TRUE") value = 1;
  else if (text == "0" || text == "false" || text == "FALSE") value = 0;
  else return false;
  return true;
}

class TypedRows {
 public:
  TypedRows(const SheetContext& context, TypedBlock& block) : context_(context), block_(block) {
    if (context.sharedStringEdits == nullptr) ownEdits_.assign(context.sharedStrings->size(), 0);
  }

  void startRow(bool numbered, std::string_view r) {
    RowHead head;
    if (numbered) {
      head.numbered = true;
      // Unreadable numbers count as row 0, as in the text.
      if (!rowscan::parseInt(r, head.number)) head.number = 0;
    }
    block_.rows.push_back(head);
  }

  bool cell(const CellInput& cell) {
    if (cell.position == 0 || cell.position > kLastMappedColumn) return true;  // no column of its own
    // Typed text keeps every character: what the edits say is not used.
    resolveCell(cell, context_, context_.sharedStringEdits ? *context_.sharedStringEdits : ownEdits_, scratch_,
                resolved_);
    TypedCell typed;
    typed.row = static_cast<std::uint32_t>(block_.rows.size() - 1);
    typed.column = static_cast<std::uint16_t>(cell.position);
    typed.textOffset = 0;
    typed.textLength = 0;
    typed.micros = 0;
    bool keepText = true;
    switch (resolved_.type) {
      case CellType::None:
        return true;
      case CellType::SharedText:
        typed.kind = TypedKind::SharedText;
        typed.shared = resolved_.shared;
        keepText = false;
        break;
      case CellType::Date:
        if (serialToMicros(resolved_.serial, typed.micros)) {
          typed.kind = TypedKind::Date;
          // A column of mixed kinds writes the date as the text does; the
          // microseconds give that text back, except for the 1900-02-29
          // that never was, which is kept as text.
          keepText = isLeapDayText(resolved_.serial);
          if (keepText) resolved_.text = kLeapDayText;
        } else {
          typed.kind = numberKind(resolved_.text, typed.number);
        }
        break;
      case CellType::IsoDate:
        if (isoDateToMicros(trimXmlSpace(resolved_.text), typed.micros)) {
          typed.kind = TypedKind::Date;
          keepText = false;
        } else {
          typed.kind = TypedKind::Text;
        }
        break;
      case CellType::Number:
        typed.kind = numberKind(resolved_.text, typed.number);
        break;
      case CellType::Boolean:
        typed.kind = readBoolean(resolved_.text, typed.number) ? TypedKind::Boolean : TypedKind::Text;
        break;
      case CellType::Error:
      case CellType::Text:
        typed.kind = TypedKind::Text;
        break;
    }
    if (keepText) {
      if (block_.arena.size() + resolved_.text.size() > UINT32_MAX)
        throw Failure(TABULON_OUT_OF_MEMORY, "a block of rows holds more than 4 GiB of text");
      typed.textOffset = static_cast<std::uint32_t>(block_.arena.size());
      typed.textLength = static_cast<std::uint32_t>(resolved_.text.size());
      block_.arena.append(resolved_.text);
    }
    block_.cells.push_back(typed);
    return true;
  }

  void finishRow() {}

 private:
  const SheetContext& context_;
  TypedBlock& block_;
  std::vector<std::uint8_t> ownEdits_;
  std::string scratch_;
  ResolvedCell resolved_;
};

}  // namespace

void readTypedBlock(std::string_view block, const SheetContext& context, TypedBlock& result) {
  // Cells of ten bytes and more, rows of a hundred: regrowing would copy
  // what is already read.
  result.cells.reserve(result.cells.size() + block.size() / 24 + 1);
  result.rows.reserve(result.rows.size() + block.size() / 128 + 1);
  TypedRows output(context, result);
  rowscan::scanRows(block, output);
}

}  // namespace tabulon
