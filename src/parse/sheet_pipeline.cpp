#include "parse/sheet_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "cells/text_encoding.h"
#include "parse/row_blocks.h"
#include "pool/thread_pool.h"
#include "zip/zip_failure.h"

namespace tabulon {
namespace {

// Text buffers for the blocks in flight. Reusing a few buffers keeps a big
// sheet's text in memory that is already mapped, and bounds what is held
// at once whatever the sheet's size.
class BufferRing {
 public:
  explicit BufferRing(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) free_.push_back(std::make_unique<std::string>());
  }

  std::unique_ptr<std::string> take() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [&] { return !free_.empty(); });
    std::unique_ptr<std::string> buffer = std::move(free_.back());
    free_.pop_back();
    buffer->clear();
    return buffer;
  }

  void give(std::unique_ptr<std::string> buffer) {
    {
      std::lock_guard lock(mutex_);
      free_.push_back(std::move(buffer));
    }
    returned_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable returned_;
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
    thread_pool pool(static_cast<unsigned>(pieces.size()));
    for (std::size_t i = 0; i < pieces.size(); ++i)
      done.push_back(pool.submit([&sink, &pieces, i] { sink.read(i, pieces[i]); }));
    pool.wait_for_jobs();
  }
  collect(done);
}

void streamRowBlocks(Zippy::ZipArchive& archive, const std::string& part, unsigned threads,
                     std::size_t blockBytes, RowBlockSink& sink) {
  threads = std::max(1u, threads);
  blockBytes = std::max<std::size_t>(1, blockBytes);
  bool started = false;
  bool recode = false, markChecked = false;
  std::size_t blocks = 0;
  std::vector<std::future<void>> done;
  BufferRing ring(2 * static_cast<std::size_t>(threads) + 2);
  std::unique_ptr<std::string> current = ring.take();
  try {
    thread_pool pool(threads);
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
      done.push_back(pool.submit([&sink, &ring, index, shared] {
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

    // A block ends just past the first row end at or after blockBytes from
    // its start; searchFrom skips what earlier chunks showed to hold none.
    std::size_t searchFrom = blockBytes;
    std::vector<std::size_t> cuts;
    archive.StreamEntry(part, [&](std::string_view chunk) {
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
        // Only a tag that starts before the new bytes can straddle them.
        std::size_t lt = current->rfind('<', before - 1);
        if (lt != std::string::npos) searchFrom = std::max(searchFrom, lt);
      }
      cuts.clear();
      std::string_view text(*current);
      std::size_t start = 0;
      while (text.size() - start >= blockBytes) {
        std::size_t cut = afterRowEnd(text, start, std::min(start + searchFrom, text.size()));
        if (cut == std::string_view::npos) break;
        cuts.push_back(cut);
        start = cut;
        searchFrom = blockBytes;
      }
      if (cuts.empty()) return true;
      searchFrom = blockBytes;
      // The first block keeps the buffer; the others and the rest move out.
      std::size_t first = newBlock();
      for (std::size_t i = 1; i < cuts.size(); ++i) {
        std::size_t index = newBlock();
        std::unique_ptr<std::string> piece = ring.take();
        piece->assign(text.substr(cuts[i - 1], cuts[i] - cuts[i - 1]));
        submit(std::move(piece), index);
      }
      std::unique_ptr<std::string> rest = ring.take();
      rest->assign(text.substr(cuts.back()));
      current->resize(cuts.front());
      submit(std::move(current), first);
      current = std::move(rest);
      return true;
    });
    if (!recode) {
      // Numbered before the buffer moves: the first block's number reads it.
      const std::size_t last = newBlock();
      submit(std::move(current), last);
    }
    pool.wait_for_jobs();
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
