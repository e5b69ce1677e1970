#include "api/workbook_loader.h"

#include <cctype>
#include <deque>
#include <future>
#include <unordered_map>
#include <vector>

#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "cells/text_encoding.h"
#include "parse/relationships.h"
#include "parse/shared_strings.h"
#include "parse/sheet_list.h"
#include "parse/styles.h"
#include "pool/thread_pool.h"

namespace tabulon {
namespace {

std::string lowerAscii(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Entry names of the archive, looked up exactly or ignoring ASCII case:
// writers disagree on the case of part names, and relationship targets do
// not always match the stored names.
class EntryIndex {
 public:
  explicit EntryIndex(const Zippy::ZipArchive& archive) {
    for (const auto& entry : archive.Entries()) {
      if (entry.info.isDirectory) continue;
      exact_.emplace(entry.info.name, entry.info.name);
      folded_.emplace(lowerAscii(entry.info.name), entry.info.name);
    }
  }

  std::optional<std::string> exact(std::string_view name) const {
    auto it = exact_.find(std::string(name));
    if (it == exact_.end()) return std::nullopt;
    return it->second;
  }

  std::optional<std::string> find(std::string_view name) const {
    if (auto hit = exact(name)) return hit;
    auto it = folded_.find(lowerAscii(name));
    if (it == folded_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::unordered_map<std::string, std::string> exact_;
  std::unordered_map<std::string, std::string> folded_;  // first of each folded name
};

std::string folderOf(std::string_view part) {
  std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string relationshipsPartOf(std::string_view part) {
  std::size_t slash = part.rfind('/');
  std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return folderOf(part) + "_rels/" + std::string(file) + ".rels";
}

// Texts of parts that had to be converted to UTF-8; the views handed to the
// jobs point into them, so they live as long as the loading stage.
using ConvertedParts = std::deque<std::string>;

// The text of a part as UTF-8: a view of the archive's cached bytes, or of
// their conversion when the part is written in UTF-16.
std::string_view readPart(const std::string& name, ConvertedParts& converted) {
  std::string_view bytes = xlsFile.GetEntry(name).GetView();
  if (!startsWithUtf16Mark(bytes)) return bytes;
  converted.push_back(utf16ToUtf8(bytes));
  return converted.back();
}

std::vector<Relationship> readRelationships(const EntryIndex& index, std::string_view relsPart) {
  std::optional<std::string> name = index.find(relsPart);
  if (!name) return {};
  ConvertedParts converted;
  return scanRelationships(readPart(*name, converted));
}

// The workbook part: its usual name, else what the package's root
// relationships name as the office document.
std::string findWorkbookPart(const EntryIndex& index) {
  if (auto usual = index.find("xl/workbook.xml")) return *usual;
  for (const Relationship& rel : readRelationships(index, "_rels/.rels")) {
    if (rel.external || relationshipKind(rel.type) != "officeDocument") continue;
    std::string target = resolveTarget("", rel.target);
    if (auto found = index.find(target)) return *found;
  }
  return "xl/workbook.xml";  // absent: reading it fails with the archive's message
}

// A workbook-wide part (styles, shared strings): its usual name, else the
// target of the workbook's relationship of that kind. Empty when the
// workbook has none.
std::optional<std::string> findTablePart(const EntryIndex& index, std::string_view workbookPart,
                                             const std::vector<Relationship>& rels,
                                             std::string_view kind, std::string_view usualFile) {
  std::string usual = folderOf(workbookPart) + std::string(usualFile);
  if (auto found = index.exact(usual)) return found;
  for (const Relationship& rel : rels) {
    if (rel.external || relationshipKind(rel.type) != kind) continue;
    if (auto found = index.find(resolveTarget(workbookPart, rel.target))) return found;
  }
  return index.find(usual);
}

// The archive entry of each sheet: through its relationship when the
// workbook has one for it, else by position. "" for sheets that are not
// worksheets.
std::vector<std::string> sheetParts(const EntryIndex& index, std::string_view workbookPart,
                                    const std::vector<Relationship>& rels,
                                    const std::vector<SheetRef>& sheets) {
  std::unordered_map<std::string_view, const Relationship*> byId;
  for (const Relationship& rel : rels) byId.emplace(rel.id, &rel);
  std::vector<std::string> parts;
  parts.reserve(sheets.size());
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    auto it = sheets[i].relId.empty() ? byId.end() : byId.find(sheets[i].relId);
    if (it == byId.end() || it->second->external) {
      parts.push_back("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml");
    } else if (relationshipKind(it->second->type) != "worksheet") {
      parts.emplace_back();
    } else {
      std::string target = resolveTarget(workbookPart, it->second->target);
      parts.push_back(index.find(target).value_or(target));
    }
  }
  return parts;
}

std::vector<std::string> sheetNames(const std::vector<SheetRef>& sheets) {
  std::vector<std::string> names;
  names.reserve(sheets.size());
  for (const SheetRef& s : sheets) names.push_back(s.name);
  return names;
}

}  // namespace

std::optional<std::string> findEntryName(const Zippy::ZipArchive& archive, std::string_view name) {
  return EntryIndex(archive).find(name);
}

void loadWorkbook() {
  const EntryIndex index(xlsFile);
  const std::string workbookPart = findWorkbookPart(index);

  // Views into the archive's cached entries: they stay put until the next
  // Open or Close, which cannot happen while this runs.
  ConvertedParts converted;
  thread_pool pool;
  std::string_view workbookXml = readPart(workbookPart, converted);
  std::future<std::vector<SheetRef>> sheetsJob = pool.submit(scanSheets, workbookXml);

  const std::vector<Relationship> rels = readRelationships(index, relationshipsPartOf(workbookPart));

  std::future<std::vector<int>> stylesJob;
  if (auto part = findTablePart(index, workbookPart, rels, "styles", "styles.xml"))
    stylesJob = pool.submit(getStyles, readPart(*part, converted));

  std::future<std::vector<std::string>> stringsJob;
  if (auto part = findTablePart(index, workbookPart, rels, "sharedStrings", "sharedStrings.xml")) {
    std::string_view xml = readPart(*part, converted);
    stringsJob = pool.submit([xml] { return getSharedStrings(std::string(xml)); });
  }

  std::future<std::map<std::string, unsigned long>> mapJob = pool.submit(CreateMap);
  pool.wait_for_jobs();

  std::vector<SheetRef> sheets = sheetsJob.get();
  std::vector<std::string> parts = sheetParts(index, workbookPart, rels, sheets);
  SheetsNames = sheetNames(sheets);
  SheetsParts = std::move(parts);
  Date1904 = usesDate1904(workbookXml);
  Styles = stylesJob.valid() ? stylesJob.get() : std::vector<int>();
  SharedStrings = stringsJob.valid() ? stringsJob.get() : std::vector<std::string>();
  columnMap = mapJob.get();
}

}  // namespace tabulon
