// A fixed set of worker threads taking jobs from one FIFO queue; results
// and exceptions travel back through futures.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

class thread_pool {
 public:
  // One worker per hardware thread (one when the platform cannot tell).
  thread_pool();
  // Exactly count workers (one when count is 0), so callers can show that
  // their results do not depend on the machine. Throws std::system_error
  // when a worker cannot be started; the ones already started are joined.
  explicit thread_pool(unsigned count);
  // Waits for every submitted job, then stops and joins the workers.
  ~thread_pool();

  thread_pool(const thread_pool&) = delete;
  thread_pool& operator=(const thread_pool&) = delete;

  // Queues f(args...) with the arguments copied (decayed) into the job, so
  // the caller may change or drop its own objects at once; a view argument
  // stays a view, and what it views must outlive the job. The future holds
  // the result or whatever f threw. The function and the arguments must be
  // copyable, because the queue holds std::function.
  template <typename F, typename... Args>
  std::future<std::invoke_result_t<std::decay_t<F>, std::decay_t<Args>...>> submit(
      F&& f, Args&&... args);

  // Returns once every job submitted so far has finished running (not just
  // left the queue) and its copies of the arguments are gone.
  void wait_for_jobs();

  // Number of worker threads.
  std::uint32_t size() const noexcept { return worker_count; }

 private:
  void push_job(std::function<void()> job);
  void worker();
  void stop_and_join() noexcept;

  std::atomic<bool> is_running{false};
  std::condition_variable job_ready;
  std::condition_variable job_finished;
  std::queue<std::function<void()>> jobs;
  std::atomic<std::uint64_t> jobs_in_flight{0};
  std::mutex jobs_mutex;
  std::uint32_t worker_count;
  std::unique_ptr<std::thread[]> workers;
  std::atomic<bool> is_waiting{false};
};

template <typename F, typename... Args>
std::future<std::invoke_result_t<std::decay_t<F>, std::decay_t<Args>...>> thread_pool::submit(
    F&& f, Args&&... args) {
  using Result = std::invoke_result_t<std::decay_t<F>, std::decay_t<Args>...>;
  // std::function needs a copyable target, hence the shared promise.
  auto promise = std::make_shared<std::promise<Result>>();
  std::future<Result> result = promise->get_future();
  push_job([call = std::decay_t<F>(std::forward<F>(f)),
            arguments = std::tuple<std::decay_t<Args>...>(std::forward<Args>(args)...),
            promise]() mutable {
    // A job runs once, so the call and its arguments may be consumed.
    try {
      if constexpr (std::is_void_v<Result>) {
        std::apply(std::move(call), std::move(arguments));
        promise->set_value();
      } else {
        promise->set_value(std::apply(std::move(call), std::move(arguments)));
      }
    } catch (...) {
      // Nothing may reach the worker: if even the exception cannot be
      // stored, the future is left broken when the job goes away.
      try {
        promise->set_exception(std::current_exception());
      } catch (...) {
      }
    }
  });
  return result;
}
