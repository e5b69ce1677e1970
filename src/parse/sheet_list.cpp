#include "parse/sheet_list.h"

#include "cells/xml_text.h"
#include "parse/xml_scan.h"

namespace tabulon {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view lowerCase) {
  if (a.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<SheetRef> scanSheets(std::string_view workbookXml) {
  std::vector<SheetRef> sheets;
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextElement(workbookXml, pos, "sheet", tag)) {
    pos = tag.end;
    if (tag.closing) continue;
    // A sheet without a name still takes its place, so positions keep
    // matching the workbook's own sheet order.
    SheetRef sheet;
    std::string_view value;
    if (xml::attribute(tag.attributes, "name", value)) sheet.name = decodeXml(value);
    if (xml::prefixedAttribute(tag.attributes, "id", value)) sheet.relId = decodeXml(value);
    if (xml::attribute(tag.attributes, "state", value)) sheet.state = decodeXml(trimXmlSpace(value));
    sheets.push_back(std::move(sheet));
  }
  return sheets;
}

bool usesDate1904(std::string_view workbookXml) {
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextElement(workbookXml, pos, "workbookPr", tag)) {
    pos = tag.end;
    if (tag.closing) continue;
    std::string_view value;
    if (!xml::attribute(tag.attributes, "date1904", value)) return false;
    value = trimXmlSpace(value);
    return value == "1" || equalsIgnoringCase(value, "true");
  }
  return false;
}

}  // namespace tabulon

std::vector<std::string> getSheetsNames(std::string text) {
  std::vector<tabulon::SheetRef> sheets = tabulon::scanSheets(text);
  std::vector<std::string> names;
  names.reserve(sheets.size());
  for (tabulon::SheetRef& sheet : sheets) names.push_back(std::move(sheet.name));
  return names;
}
