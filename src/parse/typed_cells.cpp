#include "parse/typed_cells.h"

#include <cmath>

#include "base/failure.h"
#include "cells/column_map.h"
#include "cells/date_format.h"
#include "cells/date_time.h"
#include "cells/iso_duration.h"
#include "cells/serial_date.h"
#include "parse/row_scan.h"

namespace tabulon {
namespace {

using rowscan::CellInput;

constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000;

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

NumberKind styleKind(std::string_view style, const SheetContext& context) {
  std::uint64_t index = 0;
  if (context.numberKinds == nullptr || !rowscan::parseIndex(style, index) || index >= context.numberKinds->size())
    return NumberKind::DateTime;
  return static_cast<NumberKind>((*context.numberKinds)[static_cast<std::size_t>(index)]);
}

// The stored number of a cell of an elapsed-time or time-of-day format as
// a duration or a time of day, rounded to the microsecond. False where the
// cell stays a date-time: a time of day outside [0, 1), or a value too
// large for 64 bits of microseconds.
bool elapsedMicros(std::string_view stored, NumberKind kind, std::int64_t& micros) {
  double days = 0;
  if (!rowscan::parseNumber(stored, days) || !std::isfinite(days)) return false;
  if (kind == NumberKind::TimeOfDay && !(days >= 0 && days < 1)) return false;
  const double us = std::round(days * static_cast<double>(kMicrosPerDay));
  if (!(std::fabs(us) < 9.2e18)) return false;
  micros = static_cast<std::int64_t>(us);
  // The last microsecond of the day at most: a time of day never reaches
  // the next midnight.
  if (kind == NumberKind::TimeOfDay && micros >= kMicrosPerDay) micros = kMicrosPerDay - 1;
  return true;
}

class TypedRows {
 public:
  TypedRows(const SheetContext& context, const TypedSelection& selection, TypedBlock& block,
            const std::function<void()>* firstCell)
      : context_(context), selection_(selection), block_(block), firstCell_(firstCell) {
    if (context.sharedStringEdits == nullptr) ownEdits_.assign(context.sharedStrings->size(), 0);
  }

  void startRow(bool numbered, std::string_view r) {
    const RowHead head = rowNumberOf(numbered, r);
    if (head.numbered) {
      number_ = head.number;
      known_ = true;
    } else if (known_) {
      ++number_;
    }
    block_.rows.push_back(head);
    skipRow_ = known_ && outside(number_);
    if (known_ && selection_.stopAfter != nullptr && number_ > 0) {
      const std::int64_t stop = selection_.stopAfter->load(std::memory_order_relaxed);
      if (stop <= kLastSheetRow && number_ > stop) block_.stopped = true;
    }
  }

  bool stopped() const { return block_.stopped; }

  bool cell(const CellInput& cell) {
    if (cell.position == 0 || cell.position > kLastMappedColumn) return true;  // no column of its own
    if (skipRow_ || (selection_.columns != nullptr && (*selection_.columns)[cell.position] == 0)) return true;
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
        if (!(selection_.kinds && resolved_.emptyText)) return true;
        typed.kind = TypedKind::Text;  // a present empty text
        resolved_.text = {};
        break;
      case CellType::SharedText:
        typed.kind = TypedKind::SharedText;
        typed.shared = resolved_.shared;
        keepText = false;
        break;
      case CellType::Date:
        if (serialToMicros(resolved_.serial, typed.micros)) {
          const std::string_view stored = resolved_.text;
          typed.kind = TypedKind::Date;
          // A column of mixed kinds writes the date as the text does; the
          // microseconds give that text back, except for the 1900-02-29
          // that never was, which is kept as text.
          keepText = isLeapDayText(resolved_.serial);
          if (keepText) resolved_.text = kLeapDayText;
          if (selection_.kinds) elapsedKind(cell.style, stored, typed, keepText);
        } else {
          typed.kind = numberKind(resolved_.text, typed.number);
        }
        break;
      case CellType::IsoDate:
        if (isoDateToMicros(trimXmlSpace(resolved_.text), typed.micros)) {
          typed.kind = TypedKind::Date;
          keepText = false;
        } else if (selection_.kinds && isoDurationToMicros(trimXmlSpace(resolved_.text), typed.micros)) {
          typed.kind = TypedKind::Duration;
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
        typed.kind = selection_.kinds ? TypedKind::Error : TypedKind::Text;
        break;
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
    if (block_.firstCellRow == TypedBlock::kNoCell) {
      block_.firstCellRow = known_ ? number_ : TypedBlock::kUnknownRow;
      if (firstCell_ != nullptr && *firstCell_) (*firstCell_)();
    }
    return true;
  }

  void finishRow() {}

 private:
  // Whether a row of the known number lies outside the selection's rows:
  // rows numbered beyond the last sheet row are placed after every other,
  // so only an upper bound within the sheet leaves them out.
  bool outside(std::int64_t number) const {
    if (number < 0) return true;
    if (number <= kLastSheetRow) return number < selection_.firstRow || number > selection_.lastRow;
    return selection_.lastRow <= kLastSheetRow;
  }

  // A date-time cell of an elapsed-time or time-of-day format becomes a
  // duration or a time of day; its text stays the date the sheet's text
  // writes.
  void elapsedKind(std::string_view style, std::string_view stored, TypedCell& typed, bool& keepText) {
    const NumberKind kind = styleKind(style, context_);
    if (kind != NumberKind::Duration && kind != NumberKind::TimeOfDay) return;
    std::int64_t micros = 0;
    if (!elapsedMicros(stored, kind, micros)) return;
    if (!keepText) {
      dateText_ = microsText(typed.micros);
      resolved_.text = dateText_;
    }
    typed.kind = kind == NumberKind::Duration ? TypedKind::Duration : TypedKind::TimeOfDay;
    typed.micros = micros;
    keepText = true;
  }

  const SheetContext& context_;
  const TypedSelection& selection_;
  TypedBlock& block_;
  const std::function<void()>* firstCell_;
  std::vector<std::uint8_t> ownEdits_;
  std::string scratch_;
  std::string dateText_;
  ResolvedCell resolved_;
  bool known_ = false;   // the current row's number is known in this block
  std::int64_t number_ = 0;
  bool skipRow_ = false;
};

}  // namespace

void readTypedBlock(std::string_view block, const SheetContext& context, const TypedSelection& selection,
                    TypedBlock& result, const std::function<void()>* firstCell) {
  // Cells of ten bytes and more, rows of a hundred: regrowing would copy
  // what is already read.
  result.cells.reserve(result.cells.size() + block.size() / 24 + 1);
  result.rows.reserve(result.rows.size() + block.size() / 128 + 1);
  TypedRows output(context, selection, result, firstCell);
  rowscan::scanRows(block, output);
}

}  // namespace tabulon
