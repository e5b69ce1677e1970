// The jobs of one caller on the process-wide workers.
//
// One set of worker threads serves the whole process: started on first
// use, one per hardware thread, shared by every read running at once.
// Workers and waiting callers together never run more jobs at a time than
// there are workers, so concurrent reads share the cores instead of
// multiplying threads. A caller that waits for its group runs its own
// queued jobs meanwhile when a worker's place is free (a job that waits
// for a group of its own uses its own place), so waits inside jobs cannot
// deadlock. A process forked after using the pool starts a fresh one in
// the child on first use.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

namespace tabulon {

class SharedPool;

class JobGroup {
 public:
  // runInline: every job runs at once on the submitting thread, and no
  // worker is involved (a read asked to use one thread).
  explicit JobGroup(bool runInline = false);
  // Waits for every job of the group.
  ~JobGroup();
  JobGroup(const JobGroup&) = delete;
  JobGroup& operator=(const JobGroup&) = delete;

  // Queues f(); the future holds its result or what it threw.
  template <typename F>
  std::future<std::invoke_result_t<std::decay_t<F>>> submit(F&& f);

  // Returns once every job submitted so far has finished.
  void wait();

  // Returns once ready() holds; it is tested now and after each job of the
  // group finishes, under the pool's lock (so it must not submit or wait).
  // Meanwhile runs the group's queued jobs. Throws std::logic_error when
  // ready() is false with no job of the group left to make it true.
  void waitUntil(const std::function<bool()>& ready);

  // Worker threads of the process-wide pool (starting it if need be).
  static unsigned workerCount();

 private:
  friend class SharedPool;
  void push(std::function<void()> job);

  bool inline_;
  SharedPool* pool_ = nullptr;
  // Guarded by the pool's lock.
  std::uint64_t inFlight_ = 0;  // queued or running
  std::uint64_t queued_ = 0;
};

template <typename F>
std::future<std::invoke_result_t<std::decay_t<F>>> JobGroup::submit(F&& f) {
  using Result = std::invoke_result_t<std::decay_t<F>>;
  // std::function needs a copyable target, hence the shared promise.
  auto promise = std::make_shared<std::promise<Result>>();
  std::future<Result> result = promise->get_future();
  push([call = std::decay_t<F>(std::forward<F>(f)), promise]() mutable {
    try {
      if constexpr (std::is_void_v<Result>) {
        call();
        promise->set_value();
      } else {
        promise->set_value(call());
      }
    } catch (...) {
      try {
        promise->set_exception(std::current_exception());
      } catch (...) {
      }
    }
  });
  return result;
}

}  // namespace tabulon
