#include "pool/job_group.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tabulon {

// The process-wide workers and their one queue. Every job belongs to a
// group; a place is what running one job takes, and there are as many
// places as workers, whoever runs the job.
class SharedPool {
 public:
  explicit SharedPool(unsigned count) : places_(count) {
    workers_.reserve(count);
    try {
      for (unsigned i = 0; i < count; ++i) workers_.emplace_back(&SharedPool::work, this);
    } catch (...) {
      stop();
      throw;
    }
  }

  void stop() noexcept {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    workReady_.notify_all();
    for (std::thread& worker : workers_)
      if (worker.joinable()) worker.join();
    workers_.clear();
  }

  unsigned size() const { return places_; }

  void push(JobGroup& group, std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back({&group, std::move(job)});
      ++group.queued_;
      ++group.inFlight_;
    }
    workReady_.notify_one();
  }

  // ready == nullptr: until the group has no job left.
  void wait(JobGroup& group, const std::function<bool()>* ready) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (ready != nullptr ? (*ready)() : group.inFlight_ == 0) return;
      if (group.queued_ > 0 && (holdsPlace || running_ < places_)) {
        runOwnJob(group, lock);
        continue;
      }
      if (group.inFlight_ == 0) throw std::logic_error("waiting for a condition no job of the group can meet");
      progress_.wait(lock);
    }
  }

 private:
  struct Job {
    JobGroup* group;
    std::function<void()> run;
  };

  // Whether this thread is running a job of the pool (and so holds a place
  // that a wait inside the job may use for the jobs it waits for).
  static thread_local bool holdsPlace;

  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      workReady_.wait(lock, [this] { return stopping_ || (!jobs_.empty() && running_ < places_); });
      if (stopping_) return;
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      --job.group->queued_;
      run(job, lock, true);
    }
  }

  void runOwnJob(JobGroup& group, std::unique_lock<std::mutex>& lock) {
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
      if (it->group != &group) continue;
      Job job = std::move(*it);
      jobs_.erase(it);
      --group.queued_;
      run(job, lock, !holdsPlace);
      return;
    }
  }

  // Runs job outside the lock; takeAPlace: it needs a place of its own.
  void run(Job& job, std::unique_lock<std::mutex>& lock, bool takeAPlace) {
    if (takeAPlace) ++running_;
    const bool held = holdsPlace;
    holdsPlace = true;
    lock.unlock();
    job.run();  // never throws: submit stores every exception
    // The job's captures go before it counts as finished.
    job.run = nullptr;
    lock.lock();
    holdsPlace = held;
    if (takeAPlace) --running_;
    --job.group->inFlight_;
    progress_.notify_all();
    if (!jobs_.empty()) workReady_.notify_one();
  }

  const unsigned places_;
  std::mutex mutex_;
  std::condition_variable workReady_;  // workers: a job and a place
  std::condition_variable progress_;   // waiting callers: a job ended
  std::deque<Job> jobs_;
  unsigned running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

thread_local bool SharedPool::holdsPlace = false;

namespace {

std::mutex instanceMutex;
SharedPool* current = nullptr;

// The workers stop when the library is unloaded (or the process exits),
// and the pool goes with them: an unloaded library leaves nothing behind.
struct Stopper {
  ~Stopper() {
    std::lock_guard lock(instanceMutex);
    if (current != nullptr) {
      current->stop();
      delete current;
      current = nullptr;
    }
  }
} stopper;

void beforeFork() { instanceMutex.lock(); }
void afterForkInParent() { instanceMutex.unlock(); }
// The child has none of the workers: it forgets the pool (its threads'
// objects cannot be destroyed) and starts another on first use.
void afterForkInChild() {
  current = nullptr;
  instanceMutex.unlock();
}

SharedPool& instance() {
  std::lock_guard lock(instanceMutex);
  if (current == nullptr) {
    static const bool registered = pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) == 0;
    (void)registered;
    unsigned count = std::thread::hardware_concurrency();
    current = new SharedPool(count == 0 ? 1 : count);
  }
  return *current;
}

}  // namespace

JobGroup::JobGroup(bool runInline) : inline_(runInline) {
  if (!inline_) pool_ = &instance();
}

JobGroup::~JobGroup() {
  try {
    wait();
  } catch (...) {
    // wait without a condition cannot fail but through the lock itself.
  }
}

void JobGroup::push(std::function<void()> job) {
  if (inline_) {
    job();
    return;
  }
  pool_->push(*this, std::move(job));
}

void JobGroup::wait() {
  if (!inline_) pool_->wait(*this, nullptr);
}

void JobGroup::waitUntil(const std::function<bool()>& ready) {
  if (inline_) {
    if (!ready()) throw std::logic_error("waiting for a condition no job of the group can meet");
    return;
  }
  pool_->wait(*this, &ready);
}

unsigned JobGroup::workerCount() { return instance().size(); }

}  // namespace tabulon
