#include "pool/thread_pool.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(ThreadPool, EmptyPoolIsDestroyedAtOnce) {
  for (unsigned count : {0u, 1u, 4u}) {
    thread_pool pool(count);
    EXPECT_EQ(pool.size(), count == 0 ? 1u : count);
    pool.wait_for_jobs();
  }
  thread_pool pool;
  unsigned hardware = std::thread::hardware_concurrency();
  EXPECT_EQ(pool.size(), hardware == 0 ? 1u : hardware);
}

TEST(ThreadPool, OneWorkerRunsJobsInSubmissionOrderOffTheCallingThread) {
  std::vector<int> order;
  std::vector<std::thread::id> runners;
  {
    thread_pool pool(1);
    for (int i = 0; i < 200; ++i) {
      pool.submit([&order, &runners](int n) {
        order.push_back(n);
        runners.push_back(std::this_thread::get_id());
      }, i);
    }
  }
  std::vector<int> expected(200);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order, expected);
  ASSERT_FALSE(runners.empty());
  EXPECT_NE(runners.front(), std::this_thread::get_id());
  for (const auto& id : runners) EXPECT_EQ(id, runners.front());
}

TEST(ThreadPool, FuturesCarryResultsAndExceptions) {
  thread_pool pool(3);
  auto before = pool.submit([] { return 1; });
  auto failing = pool.submit([]() -> int { throw std::out_of_range("stod"); });
  auto failing_void = pool.submit([] { throw 42; });
  auto owned = pool.submit([] { return std::make_unique<std::string>("moved out"); });
  auto names = pool.submit([](std::string text) { return std::vector<std::string>{text, text}; },
                           std::string("Sheet1"));
  auto table = pool.submit([] { return std::map<std::string, unsigned long>{{"A", 1}}; });
  auto after = pool.submit([](std::string_view text) { return text.size(); },
                           std::string_view("four"));

  EXPECT_EQ(before.get(), 1);
  try {
    failing.get();
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "stod");
  }
  try {
    failing_void.get();
    ADD_FAILURE() << "no exception";
  } catch (int value) {
    EXPECT_EQ(value, 42);
  }
  EXPECT_EQ(*owned.get(), "moved out");
  EXPECT_EQ(names.get(), (std::vector<std::string>{"Sheet1", "Sheet1"}));
  EXPECT_EQ(table.get().at("A"), 1u);
  EXPECT_EQ(after.get(), 4u);
}

TEST(ThreadPool, WaitCoversRunningJobsAndReleasesTheirArguments) {
  thread_pool pool(2);
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  auto held = std::make_shared<int>(7);
  auto future = pool.submit(
      [&](std::shared_ptr<int> value) {
        started = true;
        std::this_thread::sleep_for(150ms);
        finished = true;
        return *value;
      },
      held);
  while (!started) std::this_thread::yield();
  // The queue is empty from here on while the job still runs.
  std::this_thread::sleep_for(30ms);
  pool.wait_for_jobs();
  EXPECT_TRUE(finished);
  EXPECT_EQ(future.wait_for(0s), std::future_status::ready);
  // The job's copy of the argument is gone as well.
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(future.get(), 7);

  // The pool keeps working after a wait.
  auto again = pool.submit([] { return 3; });
  pool.wait_for_jobs();
  EXPECT_EQ(again.get(), 3);
}

TEST(ThreadPool, StringArgumentIsCopiedAtSubmit) {
  thread_pool pool(2);
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  auto text = std::make_unique<std::string>("xl/workbook.xml contents");
  auto by_value = pool.submit([](std::string s, std::shared_future<void> g) {
    g.wait();
    return s;
  }, *text, opened);
  auto by_reference = pool.submit([](const std::string& s, std::shared_future<void> g) {
    g.wait();
    return s;
  }, *text, opened);
  text->assign("changed");
  text.reset();
  gate.set_value();
  EXPECT_EQ(by_value.get(), "xl/workbook.xml contents");
  EXPECT_EQ(by_reference.get(), "xl/workbook.xml contents");
}

TEST(ThreadPool, ManySmallJobsAllComplete) {
  thread_pool pool(4);
  std::vector<std::future<std::uint64_t>> futures;
  constexpr std::uint64_t kJobs = 10000;
  futures.reserve(kJobs);
  std::atomic<std::uint64_t> runs{0};
  for (std::uint64_t i = 0; i < kJobs; ++i) {
    futures.push_back(pool.submit([&runs](std::uint64_t n) {
      ++runs;
      return n * n;
    }, i));
  }
  pool.wait_for_jobs();
  EXPECT_EQ(runs, kJobs);
  for (std::uint64_t i = 0; i < kJobs; ++i) ASSERT_EQ(futures[i].get(), i * i) << i;
}

// Pools torn down while their workers are still starting, or just finishing
// a job, must neither hang nor lose a job.
TEST(ThreadPool, RepeatedCreateAndDestroyNeverHangs) {
  std::atomic<unsigned> runs{0};
  unsigned expected = 0;
  for (unsigned cycle = 0; cycle < 2000; ++cycle) {
    thread_pool pool(1 + cycle % 3);
    unsigned jobs = cycle % 4;  // 0 to 3, so some pools never see a job
    for (unsigned j = 0; j < jobs; ++j) pool.submit([&runs] { ++runs; });
    expected += jobs;
  }
  EXPECT_EQ(runs, expected);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TABULON_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TABULON_SANITIZED 1
#endif
#endif

[[maybe_unused]] std::uint64_t mappedBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// With the address space capped, thread stacks run out after a few workers:
// the constructor must join the ones it started (a joinable std::thread
// left behind would abort) and report the failure.
TEST(ThreadPoolDeathTest, WorkerStartFailureJoinsStartedWorkers) {
#ifdef TABULON_SANITIZED
  GTEST_SKIP() << "sanitizers need the address space that this test caps";
#else
  EXPECT_EXIT(
      {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = mappedBytes() + (40u << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        try {
          thread_pool pool(10000);
        } catch (const std::system_error&) {
          _exit(0);
        }
        _exit(2);
      },
      testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
