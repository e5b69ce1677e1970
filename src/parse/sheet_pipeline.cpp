#include "parse/sheet_pipeline.h"

#include <string.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "cells/text_encoding.h"
#include "parse/row_blocks.h"
#include "pool/job_group.h"
#include "zip/zip_failure.h"

namespace tabulon {
namespace {

// Text buffers for the blocks in flight. Reusing a few buffers keeps a big
// sheet's text in memory that is already mapped, and bounds what is held
// at once whatever the sheet's size. Only the reading thread takes; jobs
// give back.
class BufferRing {
 public:
  // The buffers come from stock (when not null) and go back to it.
  // capacity: what a buffer is made to hold at once, so that it never
  // regrows by copying what it holds.
  BufferRing(std::size_t count, std::size_t capacity, Stock<std::string>* stock) : capacity_(capacity), stock_(stock) {
    for (std::size_t i = 0; i < count; ++i)
      free_.push_back(stock != nullptr ? stock->take() : std::make_unique<std::string>());
  }

  // Called once every job has given its buffer back.
  ~BufferRing() {
    if (stock_ == nullptr) return;
    for (std::unique_ptr<std::string>& buffer : free_) stock_->give(std::move(buffer));
  }

  // The buffer that was being filled when reading ended early.
  void keep(std::unique_ptr<std::string> buffer) {
    if (buffer != nullptr) give(std::move(buffer));
  }

  // A free buffer; while there is none, runs the group's queued jobs or
  // waits for one of them to give one back.
  std::unique_ptr<std::string> take(JobGroup& group) {
    group.waitUntil([this] {
      std::lock_guard lock(mutex_);
      return !free_.empty();
    });
    std::lock_guard lock(mutex_);
    std::unique_ptr<std::string> buffer = std::move(free_.back());
    free_.pop_back();
    buffer->clear();
    buffer->reserve(capacity_);
    return buffer;
  }

  void give(std::unique_ptr<std::string> buffer) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(buffer));
  }

 private:
  std::size_t capacity_;
  Stock<std::string>* stock_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<std::string>> free_;
};

// A job failing can only be running out of memory; the sheet then fails as
// a whole rather than coming back with rows missing.
void collect(std::vector<std::future<void>>& done) {
  for (std::future<void>& f : done) f.get();
}

}  // namespace

void readRowBlocks(std::string_view text, unsigned count, RowBlockSink& sink) {
  std::vector<std::string_view> pieces = cutRowBlocks(text, std::max(1u, count));
  sink.begin(text);
  for (std::size_t i = 0; i < pieces.size(); ++i) sink.addBlock(i);
  if (pieces.size() == 1) {
    sink.read(0, pieces[0]);
    return;
  }
  std::vector<std::future<void>> done;
  done.reserve(pieces.size());
  {
    JobGroup group;
    for (std::size_t i = 0; i < pieces.size(); ++i)
      done.push_back(group.submit([&sink, &pieces, i] { sink.read(i, pieces[i]); }));
    group.wait();
  }
  collect(done);
}

void streamRowBlocks(Zippy::ZipArchive& archive, const std::string& part, unsigned threads,
                     std::size_t blockBytes, RowBlockSink& sink, Stock<std::string>* buffers) {
  threads = std::max(1u, threads);
  blockBytes = std::max<std::size_t>(1, blockBytes);
  bool started = false;
  bool recode = false, markChecked = false;
  std::size_t blocks = 0;
  std::vector<std::future<void>> done;
  // Pieces of inflated text: small against a block, so that a block's
  // buffer holds little more than the block.
  const std::size_t chunkBytes = std::clamp<std::size_t>(blockBytes / 8, 16u << 10, 1u << 20);
  BufferRing ring(2 * static_cast<std::size_t>(threads) + 2, blockBytes + 2 * chunkBytes, buffers);
  // Destroyed before the ring: it waits for the jobs that give buffers back.
  // One thread asked for: every block is read on this thread.
  JobGroup group(threads == 1);
  std::unique_ptr<std::string> current = ring.take(group);
  try {
    auto newBlock = [&] {
      if (!started) {
        sink.begin(*current);
        started = true;
      }
      sink.addBlock(blocks);
      return blocks++;
    };
    auto submit = [&](std::unique_ptr<std::string> text, std::size_t index) {
      auto shared = std::make_shared<std::unique_ptr<std::string>>(std::move(text));
      done.push_back(group.submit([&sink, &ring, index, shared] {
        std::unique_ptr<std::string> owned = std::move(*shared);
        try {
          sink.read(index, *owned);
        } catch (...) {
          ring.give(std::move(owned));
          throw;
        }
        ring.give(std::move(owned));
      }));
    };

    // A block ends just past the first row end at or after target bytes
    // from its start (growing from the sink's first size to blockBytes);
    // searchFrom skips what earlier chunks showed to hold none.
    std::size_t target = std::clamp<std::size_t>(sink.firstBlockBytes(blockBytes), 1, blockBytes);
    const auto grow = [&] { target = target > blockBytes / 2 ? blockBytes : target * 2; };
    std::size_t searchFrom = target;
    std::vector<std::size_t> cuts;
    bool enough = false;
    archive.StreamEntry(part, [&](std::string_view chunk) {
      if (sink.enough()) {
        enough = true;
        return false;
      }
      std::size_t before = current->size();
      current->append(chunk);
      // The first chunk holds the XML declaration (a chunk is far longer).
      if (!markChecked) {
        markChecked = true;
        if (needsTranscoding(*current)) {
          recode = true;  // read from the whole converted text instead
          return false;
        }
      }
      if (before > searchFrom) {
        // Only a tag that starts before the new bytes can straddle them;
        // with none since searchFrom, the search starts at the new bytes
        // (so that a long text without tags is searched once, not once
        // per piece).
        const void* lt = memrchr(current->data() + searchFrom, '<', before - searchFrom);
        searchFrom = lt != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lt) - current->data()) : before;
      }
      cuts.clear();
      std::string_view text(*current);
      std::size_t start = 0;
      while (text.size() - start >= target) {
        std::size_t cut = afterRowEnd(text, start, std::min(start + searchFrom, text.size()));
        if (cut == std::string_view::npos) break;
        cuts.push_back(cut);
        start = cut;
        grow();
        searchFrom = target;
      }
      if (cuts.empty()) return true;
      searchFrom = target;
      // The first block keeps the buffer; the others and the rest move out.
      std::size_t first = newBlock();
      for (std::size_t i = 1; i < cuts.size(); ++i) {
        std::size_t index = newBlock();
        std::unique_ptr<std::string> piece = ring.take(group);
        piece->assign(text.substr(cuts[i - 1], cuts[i] - cuts[i - 1]));
        submit(std::move(piece), index);
      }
      std::unique_ptr<std::string> rest = ring.take(group);
      rest->assign(text.substr(cuts.back()));
      current->resize(cuts.front());
      submit(std::move(current), first);
      current = std::move(rest);
      return true;
    }, chunkBytes);
    if (!recode && !enough) {
      // Numbered before the buffer moves: the first block's number reads it.
      const std::size_t last = newBlock();
      submit(std::move(current), last);
    }
    group.wait();
    ring.keep(std::move(current));
  } catch (const Zippy::ZipRuntimeError& error) {
    throw memberFailure(part, error);
  }
  collect(done);
  if (recode) {
    std::string text;
    try {
      text = partToUtf8(archive.GetEntry(part).GetView(), part);
    } catch (const Zippy::ZipRuntimeError& error) {
      throw memberFailure(part, error);
    }
    readRowBlocks(text, threads, sink);
  }
}

}  // namespace tabulon
