// The sheet pipeline: the worksheet part is inflated in pieces, cut into
// blocks of whole rows, and each block is read on the pool by an output
// (row lines for the text, cells for typed columns) while later bytes are
// still being inflated. The sheet's whole text is never held at once.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "parse/read_stock.h"
#include "zip/zip_archive.h"

namespace tabulon {

// An output of the pipeline. Blocks are numbered in document order from 0;
// the output keeps one result per block and joins them in that order.
class RowBlockSink {
 public:
  virtual ~RowBlockSink() = default;
  // On the calling thread, once, before any block is read: the first
  // block's text, which holds the sheet's header (its dimension).
  virtual void begin(std::string_view head) = 0;
  // On the calling thread: block index is about to be handed out.
  virtual void addBlock(std::size_t index) = 0;
  // On a pool thread: read block index. Blocks run concurrently.
  virtual void read(std::size_t index, std::string_view block) = 0;
  // On the calling thread, between pieces of inflated text: true once the
  // blocks read hold every row wanted; nothing more is inflated then, and
  // the text not yet cut into blocks is dropped.
  virtual bool enough() const { return false; }
  // The size of the first block, given the usual one: a read that wants
  // few rows starts small, and later blocks double up to the usual size.
  virtual std::size_t firstBlockBytes(std::size_t usual) const { return usual; }
};

// One result per block, added on the calling thread while pool threads
// fill earlier ones: a deque keeps every result in place as it grows, and
// the lock guards only the lookup.
template <class Result>
class BlockResults {
 public:
  void add() {
    std::lock_guard lock(mutex_);
    results_.emplace_back();
  }

  Result& at(std::size_t index) {
    std::lock_guard lock(mutex_);
    return results_[index];
  }

  // The results in block order, moved out; call after every block is read.
  std::vector<Result> take() {
    std::vector<Result> taken;
    taken.reserve(results_.size());
    for (Result& r : results_) taken.push_back(std::move(r));
    results_.clear();
    return taken;
  }

 private:
  std::mutex mutex_;
  std::deque<Result> results_;
};

// Bytes of sheet text per block: large enough that a job's overhead does
// not show, small enough that inflating and reading overlap early and
// that the few blocks in flight stay in memory already touched.
constexpr std::size_t kBlockBytes = 512u << 10;

// Streams the archive member part through sink in blocks of blockBytes,
// read as jobs of the process-wide pool; threads bounds the blocks in
// flight (about twice as many), and 1 reads every block on the calling
// thread. Both are taken as at least 1. Throws a Failure when the member is
// missing or damaged; an exception of a block job is rethrown after all
// jobs have ended. Several streams may run at once, on one archive or many.
// The block buffers come from buffers when it is given, and go back to it.
void streamRowBlocks(Zippy::ZipArchive& archive, const std::string& part, unsigned threads,
                     std::size_t blockBytes, RowBlockSink& sink, Stock<std::string>* buffers = nullptr);

// The same over text in memory, cut into count blocks (read on the
// calling thread when count is 1).
void readRowBlocks(std::string_view text, unsigned count, RowBlockSink& sink);

}  // namespace tabulon
