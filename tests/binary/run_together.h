// Runs work on several threads at once, for the tests that show that
// threads share no state.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace binary_test {

// Calls round(t, i) for i = 0, 1, ... on each thread t < threads, started
// together. Each thread runs at least min_rounds rounds and goes on until
// every thread has, so that all of them are at work at the same time however
// the scheduler places them (a thread that starts late still finds the others
// running).
inline void run_together(size_t threads, int min_rounds,
                         const std::function<void(size_t, int)> &round) {
  std::latch start(static_cast<std::ptrdiff_t>(threads));
  std::atomic<size_t> behind{threads};
  std::vector<std::thread> pool;
  for (size_t t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < min_rounds || behind.load() > 0; ++i) {
        round(t, i);
        if (i + 1 == min_rounds) behind.fetch_sub(1);
      }
    });
  }
  for (std::thread &thread : pool) thread.join();
}

}  // namespace binary_test
