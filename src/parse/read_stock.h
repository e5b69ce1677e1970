// Buffers kept between the reads of one workbook: block texts and block
// results whose memory, once touched, serves the next block and the next
// read instead of fresh pages. Reads running at once on one workbook take
// from and give back to the same stock; each item is held by one read at a
// time.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parse/row_parser.h"
#include "parse/typed_cells.h"

namespace tabulon {

template <class Item>
class Stock {
 public:
  explicit Stock(std::size_t keep) : keep_(keep) {}

  // An item kept from before (emptied, its memory kept), or a new one.
  std::unique_ptr<Item> take() {
    {
      std::lock_guard lock(mutex_);
      if (!items_.empty()) {
        std::unique_ptr<Item> item = std::move(items_.back());
        items_.pop_back();
        return item;
      }
    }
    return std::make_unique<Item>();
  }

  // Keeps item for a later take while fewer than the stock's count are
  // kept; else it is freed.
  void give(std::unique_ptr<Item> item) {
    if (item == nullptr) return;
    item->clear();
    std::lock_guard lock(mutex_);
    if (items_.size() < keep_) items_.push_back(std::move(item));
  }

 private:
  std::mutex mutex_;
  std::size_t keep_;
  std::vector<std::unique_ptr<Item>> items_;
};

// What a workbook keeps for its reads: about as many of each as one read
// has in flight on this machine's threads.
struct ReadStock {
  Stock<std::string> texts{8};
  Stock<BlockLines> lines{8};
  Stock<TypedBlock> cells{8};
};

}  // namespace tabulon
