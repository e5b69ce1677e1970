// Relationship parts and target resolution on arbitrary text. Input: the
// part; its first line is also used as a source part name.
#include "fuzz_support.h"
#include "parse/relationships.h"

namespace {

// A resolved name is a plain relative path: no empty, "." or ".." segment.
void checkResolved(std::string_view resolved, std::size_t bound) {
  using tabulon::fuzz::require;
  require(resolved.size() <= bound, "resolved name longer than its parts");
  if (resolved.empty()) return;
  require(resolved.front() != '/' && resolved.back() != '/', "resolved name starts or ends with '/'");
  std::size_t pos = 0;
  for (;;) {
    std::size_t slash = resolved.find('/', pos);
    std::string_view segment = resolved.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    require(!segment.empty() && segment != "." && segment != "..", "resolved name keeps a bad segment");
    if (slash == std::string_view::npos) break;
    pos = slash + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  const std::string_view text = fuzz::asText(data, size);
  for (const Relationship& rel : scanRelationships(text)) {
    const std::string_view kind = relationshipKind(rel.type);
    fuzz::require(std::string_view(rel.type).ends_with(kind), "kind is not the type's tail");
    checkResolved(resolveTarget("xl/workbook.xml", rel.target), 16 + rel.target.size());
    checkResolved(resolveTarget("", rel.target), rel.target.size());
  }
  const std::string_view source = text.substr(0, text.find('\n'));
  const std::string_view target = source.size() < text.size() ? text.substr(source.size() + 1) : text;
  checkResolved(resolveTarget(source, target), source.size() + target.size());
  return 0;
}
