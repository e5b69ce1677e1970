// What a sheet's text may grow to. The row jobs of one sheet charge every
// byte they are about to write; once the total passes the limit they stop
// writing and only count, so that a refusal can say how large the text
// would have been without ever holding it.
#pragma once

#include <atomic>
#include <cstdint>

namespace tabulon {

class TextBudget {
 public:
  explicit TextBudget(std::uint64_t limit = UINT64_MAX) : limit_(limit) {}

  std::uint64_t limit() const { return limit_; }
  // Bytes charged so far (by every job that has flushed its share).
  std::uint64_t charged() const { return charged_.load(std::memory_order_relaxed); }
  bool exceeded() const { return exceeded_.load(std::memory_order_relaxed); }

  // Adds bytes to the total; false once it is beyond the limit.
  bool charge(std::uint64_t bytes) {
    const std::uint64_t total = charged_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    if (total > limit_) exceeded_.store(true, std::memory_order_relaxed);
    return total <= limit_ && !exceeded();
  }

  // Takes back bytes charged for text that was dropped unwritten.
  void refund(std::uint64_t bytes) { charged_.fetch_sub(bytes, std::memory_order_relaxed); }

 private:
  const std::uint64_t limit_;
  std::atomic<std::uint64_t> charged_{0};
  std::atomic<bool> exceeded_{false};
};

// One job's account with a shared budget: small charges gather here and
// reach the shared total in lumps, so that jobs do not meet on one counter
// per cell; a charge as large as a lump goes through at once, before its
// bytes are written.
class TextAccount {
 public:
  explicit TextAccount(TextBudget* budget) : budget_(budget) {}
  ~TextAccount() { flush(); }
  TextAccount(const TextAccount&) = delete;
  TextAccount& operator=(const TextAccount&) = delete;

  // False when the bytes may not be written: the sheet's text is beyond
  // its budget. The bytes count all the same.
  bool charge(std::uint64_t bytes) {
    if (budget_ == nullptr) return true;
    pending_ += static_cast<std::int64_t>(bytes);
    if (pending_ >= kLump) flush();
    else if (!over_ && budget_->exceeded()) over_ = true;  // another job passed it
    return !over_;
  }

  // Takes back bytes this account charged for text it then dropped (a row
  // read again), so that they do not count twice.
  void refund(std::uint64_t bytes) {
    if (budget_ == nullptr) return;
    pending_ -= static_cast<std::int64_t>(bytes);
  }

  bool over() const { return over_; }

  void flush() {
    if (budget_ == nullptr || pending_ == 0) return;
    if (pending_ < 0) budget_->refund(static_cast<std::uint64_t>(-pending_));
    else if (!budget_->charge(static_cast<std::uint64_t>(pending_))) over_ = true;
    pending_ = 0;
  }

 private:
  static constexpr std::int64_t kLump = 64 * 1024;
  TextBudget* budget_;
  std::int64_t pending_ = 0;
  bool over_ = false;
};

}  // namespace tabulon
