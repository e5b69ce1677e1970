// Whole sheets through the block cutter and the renderer: the blocks cover
// the text in order, and the rendered text is the same for 1, 2 and 3
// blocks, whether joined after the last block or as the blocks are read.
// Tables come from the input's first bytes (see fuzz_support.h).
#include "api/sheet_extraction.h"
#include "fuzz_support.h"
#include "parse/row_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  using fuzz::require;
  fuzz::Tables tables;
  const std::string_view xml = fuzz::takeTables(fuzz::asText(data, size), tables);

  for (unsigned count : {1u, 2u, 3u, 7u}) {
    const std::vector<std::string_view> blocks = cutRowBlocks(xml, count);
    require(blocks.size() == count, "not as many blocks as asked for");
    const char* next = xml.data();
    for (std::string_view block : blocks) {
      require(block.empty() || block.data() == next, "blocks do not follow each other");
      next += block.size();
    }
    require(next == xml.data() + xml.size(), "blocks do not cover the text");
  }

  Workbook workbook;
  workbook.sharedStrings = std::move(tables.strings);
  workbook.sharedStringEdits = markEditedStrings(workbook.sharedStrings);
  workbook.styles = std::move(tables.styles);
  workbook.date1904 = tables.date1904;
  const SheetRows one = renderRows(workbook, xml, 1);
  const std::string text = one.text();
  for (unsigned count : {2u, 3u}) {
    const SheetRows cut = renderRows(workbook, xml, count);
    require(cut.text() == text, "the text depends on the number of blocks");
    require(cut.width == one.width, "the width depends on the number of blocks");
  }
  // The text joined as the blocks are read is the text joined after, in
  // every form of line.
  // (One block count each: a row numbered near the last row makes every
  // join after the last block build a million slots.)
  for (unsigned flags : {0u, TABULON_TEXT_TRIM | TABULON_TEXT_QUOTED}) {
    const TextOptions options = textOptionsOf(flags);
    const std::string joined = flags == 0 ? text : renderRows(workbook, xml, 1, options).text();
    std::string streamed;
    StringTarget target(streamed);
    const TextFacts facts = renderText(workbook, xml, flags == 0 ? 3 : 2, target, options);
    target.finish(facts.size);
    require(streamed == joined, "the text joined as read differs from the text joined after");
  }
  return 0;
}
