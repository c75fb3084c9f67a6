// Many threads at once, started together: every wire variant on handles of
// their own, sessions of every codec, parity-check matrices built side by side
// from one seed, and a thread that keeps changing the process-wide log
// settings under them. Each worker checks its own results byte for byte; the
// thread-sanitizer build runs this program to find data races.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "binary/binary_codec_harness.h"
#include "media/group_harness.h"
#include "reed_solomon/session_harness.h"
#include "zv_rsfec.h"
#include "zvfec/codec_session.h"

namespace {

using zvtest::Bytes;

// Failures seen by any worker, the first one's text, and the rounds done.
class Failures {
 public:
  std::atomic<int> rounds{0};

  void add(const std::string &what) {
    if (count_.fetch_add(1) == 0) {
      const std::lock_guard<std::mutex> lock(mutex_);
      first_ = what;
    }
  }
  int count() const { return count_.load(); }
  std::string first() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return first_;
  }

 private:
  std::atomic<int> count_{0};
  std::mutex mutex_;
  std::string first_;
};

std::atomic<int> g_lines_a{0}, g_lines_b{0};
void count_a(const char *) { g_lines_a.fetch_add(1, std::memory_order_relaxed); }
void count_b(const char *) { g_lines_b.fetch_add(1, std::memory_order_relaxed); }

struct Variant {
  const char *name;
  int type, version, header;
};
constexpr Variant kVariants[] = {{"audio-v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2, 8},
                                 {"video-v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2, 12},
                                 {"video-v1", ZV_FEC_VIDEO, ZV_FEC_VERSION_1, 8}};

// Groups on a handle of its own: lose up to r packets, recover them exactly.
void media_worker(const Variant &v, uint32_t seed, int rounds, Failures &failures) {
  std::mt19937 rng(seed);
  const zvtest::Handle handle(v.type, v.version);
  if (handle.get() == nullptr) return failures.add(std::string(v.name) + ": no handle");
  for (int round = 0; round < rounds; ++round) {
    const int k = std::uniform_int_distribution<int>(2, 12)(rng);
    const int r = std::uniform_int_distribution<int>(1, 4)(rng);
    const zvtest::Group g = zvtest::encode_group(handle.get(), v.header, k, r,
                                                 static_cast<uint16_t>(rng()), 20, 300, rng);
    if (g.encode_rc != 0) return failures.add(std::string(v.name) + ": encode failed");
    const int lost = std::uniform_int_distribution<int>(1, r)(rng);
    std::vector<bool> mask = zvtest::random_loss(k + r, lost, rng);
    std::vector<Bytes> media, fec, expected;
    for (int i = 0; i < k; ++i) {
      if (mask[static_cast<size_t>(i)])
        expected.push_back(zvtest::rtp_of(g.media[static_cast<size_t>(i)]));
      else
        media.push_back(g.media[static_cast<size_t>(i)]);
    }
    for (int j = 0; j < r; ++j)
      if (!mask[static_cast<size_t>(k + j)]) fec.push_back(g.fec[static_cast<size_t>(j)]);
    if (fec.empty()) {
      failures.rounds.fetch_add(1);
      continue;
    }
    const zvtest::Decoded d =
        zvtest::decode_group(handle.get(), media, fec, zvtest::symbol_length_of(g.media));
    if (d.rc != 0 || d.packets != expected)
      return failures.add(std::string(v.name) + ": wrong recovery in round " +
                          std::to_string(round));
    failures.rounds.fetch_add(1);
  }
}

// Encodes and decodes through sessions of one Reed-Solomon codec.
void reed_solomon_worker(const rs_test::Group &g, uint32_t seed, int rounds, Failures &failures) {
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    rs_test::round_trip(g, rng);
    if (::testing::Test::HasFailure())
      return failures.add("Reed-Solomon codec " + std::to_string(g.codec) + " failed");
    failures.rounds.fetch_add(1);
  }
}

// Encodes and decodes through sessions of a binary codec after a few losses.
void binary_worker(const binary_test::Code &c, uint32_t seed, int rounds, uint32_t losses,
                   Failures &failures) {
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    binary_test::Symbols src = binary_test::random_symbols(rng, c.k, c.len);
    const binary_test::Symbols repair = binary_test::encode(c, src);
    of_session_t *dec = binary_test::open_session(c, OF_CODEC_TYPE_DECODER);
    if (dec == nullptr) return failures.add("binary decoder not opened");
    for (uint32_t esi : binary_test::received_after_loss(rng, c.n(), losses))
      of_decode_with_new_symbol(dec, binary_test::symbol_of(src, repair, esi), esi);
    of_finish_decoding(dec);
    // A few losses can defeat a sparse code; what is rebuilt must be right.
    if (of_is_decoding_complete(dec) && binary_test::take_source_symbols(dec, c, src) != src)
      failures.add("binary codec " + std::to_string(c.codec) + " rebuilt wrong symbols");
    of_release_codec_instance(dec);
    failures.rounds.fetch_add(1);
  }
}

// Builds LDPC-staircase encoders from one seed, side by side with other
// threads doing the same: every build must give the single-threaded symbols.
void ldpc_matrix_worker(const binary_test::Code &c, const binary_test::Symbols &source,
                        const binary_test::Symbols &reference, int rounds, Failures &failures) {
  binary_test::Symbols src = source;
  for (int round = 0; round < rounds; ++round) {
    if (binary_test::encode(c, src) != reference)
      return failures.add("an LDPC matrix built beside others differs from its lone build");
    failures.rounds.fetch_add(1);
  }
}

// Keeps switching the log callback and level until told to stop, and at
// least a few hundred times (then `switched` is set).
void settings_worker(const std::atomic<bool> &stop, std::atomic<bool> &switched) {
  const zv_rsfec_log_callback callbacks[] = {count_a, count_b, nullptr};
  const ZV_FEC_LOG_SERVERITY_E levels[] = {ZV_FEC_LOG_INFO, ZV_FEC_LOG_ERROR, ZV_FEC_LOG_NONE};
  for (unsigned i = 0; i < 300 || !stop.load(); ++i) {
    zv_rsfec_register_log_callback(callbacks[i % 3]);
    zv_rsfec_set_log_level(levels[(i / 3) % 3]);
    if (i == 300) switched.store(true);
    std::this_thread::yield();
  }
}

TEST(Concurrency, HandlesSessionsAndSettingsFromManyThreadsAtOnce) {
  constexpr int kRounds = 40;
  const binary_test::Code ldpc{OF_CODEC_LDPC_STAIRCASE_STABLE, 300, 150, 32, 4242, 7};
  std::mt19937 rng(99);
  const binary_test::Symbols ldpc_source = binary_test::random_symbols(rng, ldpc.k, ldpc.len);
  binary_test::Symbols copy = ldpc_source;
  const binary_test::Symbols ldpc_reference = binary_test::encode(ldpc, copy);
  ASSERT_EQ(ldpc_reference.size(), ldpc.r);

  Failures failures;
  std::vector<std::function<void()>> jobs;
  for (const Variant &v : kVariants) {
    for (uint32_t copy_no = 0; copy_no < 2; ++copy_no)
      jobs.emplace_back([&, copy_no] { media_worker(v, 1000 + copy_no, kRounds, failures); });
  }
  jobs.emplace_back([&] {
    reed_solomon_worker({OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 20, 8, 100, 8}, 7, kRounds, failures);
  });
  jobs.emplace_back([&] {
    reed_solomon_worker({OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 20, 8, 100, 8}, 8, kRounds, failures);
  });
  jobs.emplace_back([&] {
    reed_solomon_worker({OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 10, 5, 64, 4}, 9, kRounds, failures);
  });
  jobs.emplace_back([&] {
    binary_worker({OF_CODEC_LDPC_STAIRCASE_STABLE, 100, 50, 64, 77, 5}, 10, kRounds / 4, 10,
                  failures);
  });
  jobs.emplace_back([&] {
    binary_worker({OF_CODEC_2D_PARITY_MATRIX_STABLE, 9, 6, 64}, 11, kRounds, 1, failures);
  });
  for (int t = 0; t < 3; ++t)
    jobs.emplace_back([&] { ldpc_matrix_worker(ldpc, ldpc_source, ldpc_reference, 6, failures); });
  // The other workers may all finish within one time slice of the settings
  // thread; this one keeps logging until the settings have been switched a
  // few hundred times and a line has reached a callback (or a bound passes).
  std::atomic<bool> switched{false};
  jobs.emplace_back([&] {
    const zvtest::Handle handle(ZV_FEC_AUDIO, ZV_FEC_VERSION_2);
    std::mt19937 sizes(12);
    for (int group = 0; group < 20000; ++group) {
      if (switched.load() && g_lines_a.load() + g_lines_b.load() > 0) break;
      zvtest::encode_group(handle.get(), 8, 4, 2, static_cast<uint16_t>(group), 20, 100, sizes);
    }
  });

  // Workers start with lines going to a callback at the lowest level.
  zv_rsfec_register_log_callback(count_a);
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  const int workers = static_cast<int>(jobs.size());
  std::atomic<bool> stop{false};
  std::barrier start(workers + 1);
  std::atomic<int> running{workers};
  std::vector<std::thread> threads;
  for (std::function<void()> &job : jobs) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      job();
      running.fetch_sub(1);
    });
  }
  threads.emplace_back([&] {
    start.arrive_and_wait();
    settings_worker(stop, switched);
  });
  while (running.load() > 0) std::this_thread::yield();
  stop.store(true);
  for (std::thread &t : threads) t.join();
  zv_rsfec_register_log_callback(nullptr);
  zv_rsfec_set_log_level(ZV_FEC_LOG_NONE);

  EXPECT_EQ(failures.count(), 0) << failures.first();
  EXPECT_EQ(failures.rounds.load(), 6 * kRounds + 3 * kRounds + kRounds / 4 + kRounds + 3 * 6);
  EXPECT_GT(g_lines_a.load() + g_lines_b.load(), 0);
}

}  // namespace
