#include "api/workbook_loader.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "api/file_kind.h"
#include "base/failure.h"
#include "cells/column_map.h"
#include "cells/text_encoding.h"
#include "base/failure.h"
#include "parse/content_types.h"
#include "parse/date_styles.h"
#include "parse/relationships.h"
#include "parse/shared_strings.h"
#include "parse/sheet_list.h"
#include "parse/styles.h"
#include "pool/job_group.h"
#include "zip/zip_archive.h"
#include "tabulon.h"
#include "zip/zip_failure.h"

namespace tabulon {
namespace {

std::string lowerAscii(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Entry names of the archive, looked up exactly or ignoring ASCII case:
// writers disagree on the case of part names, and relationship targets do
// not always match the stored names. Some writers also separate folders
// with a backslash; such names are found under their "/" form too.
class EntryIndex {
 public:
  explicit EntryIndex(const Zippy::ZipArchive& archive) {
    // Stored names go in first, so a "/" name that is stored as such wins
    // over a backslash name that reads the same.
    for (const auto& entry : archive.Entries()) {
      if (entry.info.isDirectory) continue;
      exact_.emplace(entry.info.name, entry.info.name);
      folded_.emplace(lowerAscii(entry.info.name), entry.info.name);
    }
    for (const auto& entry : archive.Entries()) {
      if (entry.info.isDirectory || entry.info.name.find('\\') == std::string::npos) continue;
      std::string slashed = entry.info.name;
      std::replace(slashed.begin(), slashed.end(), '\\', '/');
      exact_.emplace(slashed, entry.info.name);
      folded_.emplace(lowerAscii(slashed), entry.info.name);
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
// their conversion when the part is written in another encoding.
std::string_view readPart(Zippy::ZipArchive& archive, const EntryIndex& index, const std::string& name,
                          ConvertedParts& converted) {
  const std::string member = index.find(name).value_or(name);
  std::string_view bytes;
  try {
    bytes = archive.GetEntry(member).GetView();
  } catch (const Zippy::ZipRuntimeError& error) {
    throw memberFailure(member, error);
  }
  if (!needsTranscoding(bytes)) return bytes;
  converted.push_back(partToUtf8(bytes, member));
  return converted.back();
}

std::vector<Relationship> readRelationships(Zippy::ZipArchive& archive, const EntryIndex& index,
                                           std::string_view relsPart) {
  if (!index.find(relsPart)) return {};
  ConvertedParts converted;
  return scanRelationships(readPart(archive, index, std::string(relsPart), converted));
}

// Part names below are the package's names ("/"-separated, as the
// relationships give them); readPart and EntryIndex::find map them to the
// stored entries.

// The workbook part: its usual name, else what the package's root
// relationships name as the office document.
std::string findWorkbookPart(Zippy::ZipArchive& archive, const EntryIndex& index) {
  const std::string usual = "xl/workbook.xml";
  if (index.find(usual)) return usual;
  for (const Relationship& rel : readRelationships(archive, index, "_rels/.rels")) {
    if (rel.external || relationshipKind(rel.type) != "officeDocument") continue;
    std::string target = resolveTarget("", rel.target);
    if (index.find(target)) return target;
  }
  return usual;  // absent: reading it fails with the archive's message
}

// A workbook-wide part (styles, shared strings): its usual name, else the
// target of the workbook's relationship of that kind. Empty when the
// workbook has none.
std::optional<std::string> findTablePart(const EntryIndex& index, std::string_view workbookPart,
                                         const std::vector<Relationship>& rels,
                                         std::string_view kind, std::string_view usualFile) {
  std::string usual = folderOf(workbookPart) + std::string(usualFile);
  if (index.exact(usual)) return usual;
  for (const Relationship& rel : rels) {
    if (rel.external || relationshipKind(rel.type) != kind) continue;
    std::string target = resolveTarget(workbookPart, rel.target);
    if (index.find(target)) return target;
  }
  if (index.find(usual)) return usual;
  return std::nullopt;
}

// The archive entry of each sheet: through its relationship when the
// workbook has one for it, else by position, unless that position's part
// belongs to another sheet's relationship (reading it would show another
// sheet's cells). Macro and dialog sheets hold cells as worksheets do. ""
// for sheets that have no cells of their own (chart sheets) and sheets whose
// part cannot be told.
bool holdsCells(std::string_view kind) {
  return kind == "worksheet" || kind == "xlMacrosheet" || kind == "xlIntlMacrosheet" || kind == "dialogsheet";
}

std::vector<std::string> sheetParts(const EntryIndex& index, std::string_view workbookPart,
                                    const std::vector<Relationship>& rels,
                                    const std::vector<SheetRef>& sheets) {
  std::unordered_map<std::string_view, const Relationship*> byId;
  std::unordered_set<std::string> claimed;
  for (const Relationship& rel : rels) {
    byId.emplace(rel.id, &rel);
    if (!rel.external) claimed.insert(resolveTarget(workbookPart, rel.target));
  }
  std::vector<std::string> parts;
  parts.reserve(sheets.size());
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    auto it = sheets[i].relId.empty() ? byId.end() : byId.find(sheets[i].relId);
    if (it == byId.end() || it->second->external) {
      std::string byPosition = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
      parts.push_back(claimed.count(byPosition) ? std::string() : index.find(byPosition).value_or(byPosition));
    } else if (!holdsCells(relationshipKind(it->second->type))) {
      parts.emplace_back();
    } else {
      std::string target = resolveTarget(workbookPart, it->second->target);
      parts.push_back(index.find(target).value_or(target));
    }
  }
  return parts;
}

// The kind of a sheet's part from its relationship's type or, where that
// says worksheet (some writers relate every sheet so), the part's content
// type.
int sheetKindOf(std::string_view kind) {
  if (kind == "chartsheet") return TABULON_SHEET_CHART;
  if (kind == "dialogsheet") return TABULON_SHEET_DIALOG;
  if (kind == "macrosheet" || kind == "xlMacrosheet" || kind == "xlIntlMacrosheet" || kind == "intlmacrosheet" ||
      kind == "intlMacrosheet")
    return TABULON_SHEET_MACRO;
  return TABULON_SHEET_WORKSHEET;
}

std::vector<int> sheetKinds(std::string_view workbookPart, const std::vector<Relationship>& rels,
                            const std::vector<SheetRef>& sheets,
                            const std::unordered_map<std::string, std::string>& contentTypes) {
  std::unordered_map<std::string_view, const Relationship*> byId;
  for (const Relationship& rel : rels) byId.emplace(rel.id, &rel);
  std::vector<int> kinds;
  kinds.reserve(sheets.size());
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    auto it = sheets[i].relId.empty() ? byId.end() : byId.find(sheets[i].relId);
    std::string part = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
    int kind = TABULON_SHEET_WORKSHEET;
    if (it != byId.end() && !it->second->external) {
      kind = sheetKindOf(relationshipKind(it->second->type));
      part = resolveTarget(workbookPart, it->second->target);
    }
    if (kind == TABULON_SHEET_WORKSHEET) {
      auto type = contentTypes.find(lowerAscii(part));
      if (type != contentTypes.end()) kind = sheetKindOf(contentKind(type->second));
    }
    kinds.push_back(kind);
  }
  return kinds;
}

std::vector<int> sheetVisibility(const std::vector<SheetRef>& sheets) {
  std::vector<int> visibility;
  visibility.reserve(sheets.size());
  for (const SheetRef& s : sheets) {
    const std::string state = lowerAscii(s.state);
    visibility.push_back(state == "hidden" ? TABULON_HIDDEN : state == "veryhidden" ? TABULON_VERY_HIDDEN : TABULON_VISIBLE);
  }
  return visibility;
}

std::vector<std::string> sheetNames(const std::vector<SheetRef>& sheets) {
  std::vector<std::string> names;
  names.reserve(sheets.size());
  for (const SheetRef& s : sheets) names.push_back(s.name);
  return names;
}

}  // namespace

std::unique_ptr<Workbook> loadWorkbook(Zippy::ZipArchive& archive) {
  const EntryIndex index(archive);
  const std::string workbookPart = findWorkbookPart(archive, index);
  if (!index.find(workbookPart)) {
    // Without a workbook part the archive may be another kind of document.
    if (auto foreign = recognizeForeignPackage(archive)) {
      throw Failure(foreign->kind(), (archive.Path().empty() ? "" : archive.Path() + ": ") + foreign->what());
    }
  }

  // Views into the archive's cached entries: they stay put until the next
  // Open or Close, which cannot happen while this runs.
  ConvertedParts converted;
  JobGroup jobs;
  std::string_view workbookXml = readPart(archive, index, workbookPart, converted);
  std::future<std::vector<SheetRef>> sheetsJob = jobs.submit([workbookXml] { return scanSheets(workbookXml); });

  const std::vector<Relationship> rels = readRelationships(archive, index, relationshipsPartOf(workbookPart));

  std::future<std::vector<int>> stylesJob, dateStylesJob;
  std::future<std::vector<std::uint8_t>> numberKindsJob;
  if (auto part = findTablePart(index, workbookPart, rels, "styles", "styles.xml")) {
    std::string_view xml = readPart(archive, index, *part, converted);
    stylesJob = jobs.submit([xml] { return getStyles(xml); });
    dateStylesJob = jobs.submit([xml] { return readDateStyles(xml); });
    numberKindsJob = jobs.submit([xml] { return readNumberKinds(xml); });
  }

  std::future<std::vector<std::string>> stringsJob;
  if (auto part = findTablePart(index, workbookPart, rels, "sharedStrings", "sharedStrings.xml")) {
    std::string_view xml = readPart(archive, index, *part, converted);
    stringsJob = jobs.submit([xml] { return readSharedStrings(xml); });
  }

  std::unordered_map<std::string, std::string> contentTypes;
  if (index.find("[Content_Types].xml")) {
    try {
      contentTypes = scanContentTypes(readPart(archive, index, "[Content_Types].xml", converted));
    } catch (const Failure&) {
      // Kinds then come from the relationships alone.
    }
  }

  std::future<std::map<std::string, unsigned long>> mapJob = jobs.submit([] { return CreateMap(); });
  jobs.wait();

  auto workbook = std::make_unique<Workbook>();
  workbook->archive = &archive;
  std::vector<SheetRef> sheets = sheetsJob.get();
  workbook->sheetParts = sheetParts(index, workbookPart, rels, sheets);
  workbook->sheetKinds = sheetKinds(workbookPart, rels, sheets, contentTypes);
  workbook->sheetVisibility = sheetVisibility(sheets);
  workbook->sheetNames = sheetNames(sheets);
  workbook->date1904 = usesDate1904(workbookXml);
  if (stylesJob.valid()) workbook->styles = stylesJob.get();
  if (dateStylesJob.valid()) workbook->dateStyles = dateStylesJob.get();
  if (numberKindsJob.valid()) workbook->numberKinds = numberKindsJob.get();
  if (stringsJob.valid()) workbook->sharedStrings = stringsJob.get();
  workbook->sharedStringEdits = markEditedStrings(workbook->sharedStrings);
  workbook->columnMap = mapJob.get();
  return workbook;
}

}  // namespace tabulon
