#include "pool/thread_pool.h"

thread_pool::thread_pool() : thread_pool(std::thread::hardware_concurrency()) {}

thread_pool::thread_pool(unsigned count)
    : worker_count(count == 0 ? 1 : count),
      workers(std::make_unique<std::thread[]>(worker_count)) {
  is_running = true;
  for (std::uint32_t i = 0; i < worker_count; ++i) {
    try {
      workers[i] = std::thread(&thread_pool::worker, this);
    } catch (...) {
      // A joinable thread left in the array would terminate the process
      // when the array goes away.
      stop_and_join();
      throw;
    }
  }
}

thread_pool::~thread_pool() {
  wait_for_jobs();
  stop_and_join();
}

void thread_pool::push_job(std::function<void()> job) {
  // Counted before it becomes visible, so a worker that finishes it at once
  // never takes the count below zero.
  ++jobs_in_flight;
  try {
    std::lock_guard<std::mutex> lock(jobs_mutex);
    jobs.push(std::move(job));
  } catch (...) {
    --jobs_in_flight;
    throw;
  }
  job_ready.notify_one();
}

void thread_pool::worker() {
  std::unique_lock<std::mutex> lock(jobs_mutex);
  while (is_running) {
    job_ready.wait(lock, [this] { return !jobs.empty() || !is_running; });
    if (!is_running) break;
    std::function<void()> job = std::move(jobs.front());
    jobs.pop();
    lock.unlock();
    job();
    // Drop the argument copies and the promise share before the job counts
    // as finished: once the owner's wait returns, no job state is left
    // behind on a worker.
    job = nullptr;
    lock.lock();
    --jobs_in_flight;
    if (is_waiting) job_finished.notify_one();
  }
}

void thread_pool::wait_for_jobs() {
  is_waiting = true;
  std::unique_lock<std::mutex> lock(jobs_mutex);
  // Workers lower the count under this mutex, so a job finishing between
  // the test and the sleep still wakes us.
  job_finished.wait(lock, [this] { return jobs_in_flight == 0; });
  is_waiting = false;
}

void thread_pool::stop_and_join() noexcept {
  {
    // Under the mutex, so a worker that has just seen is_running true is
    // either still before its test or already asleep when the signal comes.
    std::lock_guard<std::mutex> lock(jobs_mutex);
    is_running = false;
  }
  job_ready.notify_all();
  for (std::uint32_t i = 0; i < worker_count; ++i) {
    if (workers[i].joinable()) workers[i].join();
  }
}
