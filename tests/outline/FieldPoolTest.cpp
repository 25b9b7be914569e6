// The module's pool of field blocks on its own: what it holds as renders
// borrow and give back, one after another and at once, as blocks age and
// when the host purges. A stand-in clock ages blocks without waiting.
#include "FieldPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

namespace {

using rimlet::FieldPool;
using Clock = FieldPool::Clock;

constexpr std::int64_t kCells = 100000;
constexpr std::int64_t kBlockBytes = kCells * sizeof(float);
constexpr Clock::duration kLimit = std::chrono::seconds(10);

// A pool whose clock stands still until the test moves it.
struct PoolWithClock {
  Clock::time_point now{};
  FieldPool pool{kLimit, [this] { return now; }};

  // Borrows, fills `cells` cells (touching them, as a render would) and
  // gives the block back; returns where the cells were.
  const float *render(std::int64_t cells = kCells) {
    FieldPool::Lease lease = pool.borrow();
    float *field = lease.storage().reserve(cells);
    std::fill(field, field + cells, 1.0f);
    return field;
  }
};

TEST(FieldPool, RendersOneAfterAnotherShareOneBlock) {
  PoolWithClock p;
  const float *first = p.render();
  EXPECT_EQ(p.pool.heldBytes(), kBlockBytes);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(p.render(), first) << "render " << i << " had fresh pages";
  EXPECT_EQ(p.pool.heldBytes(), kBlockBytes);
  EXPECT_EQ(p.pool.idleBlocks(), 1u);

  // A bigger frame replaces the block rather than adding one.
  p.render(2 * kCells);
  EXPECT_EQ(p.pool.heldBytes(), 2 * kBlockBytes);
}

TEST(FieldPool, RendersAtOnceHoldOneBlockEachAndTheLastGivenBackIsLentFirst) {
  PoolWithClock p;
  std::optional<FieldPool::Lease> a(p.pool.borrow()), b(p.pool.borrow());
  a->storage().reserve(kCells);
  const float *givenBackLast = b->storage().reserve(kCells);
  EXPECT_EQ(p.pool.heldBytes(), 2 * kBlockBytes);
  EXPECT_EQ(p.pool.idleBlocks(), 0u);
  a.reset();
  b.reset();
  EXPECT_EQ(p.pool.idleBlocks(), 2u);
  FieldPool::Lease next = p.pool.borrow();
  EXPECT_EQ(next.storage().reserve(kCells), givenBackLast);
}

// A block idle beyond the limit goes at the next borrow or return, and only
// such a block: one idle for the limit exactly, and one given back later,
// stay.
TEST(FieldPool, BlocksIdleBeyondTheLimitAreFreedAtTheNextBorrowOrReturn) {
  struct Case {
    bool byBorrow;
    Clock::duration idleOfOlder;
    std::int64_t heldAfter;
  };
  const Clock::duration justOver = kLimit + std::chrono::milliseconds(1);
  const Case cases[] = {
      {true, kLimit, 2 * kBlockBytes},
      {true, justOver, kBlockBytes},
      {false, kLimit, 2 * kBlockBytes},
      {false, justOver, kBlockBytes},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(
        std::string(c.byBorrow ? "borrow" : "return") +
        (c.idleOfOlder > kLimit ? " past the limit" : " at the limit"));
    PoolWithClock p;
    std::optional<FieldPool::Lease> older(p.pool.borrow()),
        newer(p.pool.borrow()), empty(p.pool.borrow());
    older->storage().reserve(kCells);
    newer->storage().reserve(kCells);
    older.reset();
    p.now += kLimit / 2;
    newer.reset();
    p.now = Clock::time_point{} + c.idleOfOlder;
    std::optional<FieldPool::Lease> next;
    if (c.byBorrow)
      next.emplace(p.pool.borrow());
    else
      empty.reset();
    EXPECT_EQ(p.pool.heldBytes(), c.heldAfter);
  }
}

TEST(FieldPool, PurgeFreesEveryIdleBlockAndNoLentOne) {
  PoolWithClock p;
  std::optional<FieldPool::Lease> lent(p.pool.borrow());
  float *cells = lent->storage().reserve(kCells);
  p.render();
  p.render(2 * kCells);
  ASSERT_EQ(p.pool.heldBytes(), 3 * kBlockBytes);
  p.pool.purge();
  EXPECT_EQ(p.pool.heldBytes(), kBlockBytes);
  EXPECT_EQ(p.pool.idleBlocks(), 0u);
  std::fill(cells, cells + kCells, 2.0f); // still mapped: a render writes here
  lent.reset();
  EXPECT_EQ(p.pool.idleBlocks(), 1u);
  p.pool.purge();
  EXPECT_EQ(p.pool.heldBytes(), 0);
}

// Renders on several threads at once (ThreadSanitizer runs this too): no
// block is lent twice, and the pool never holds more blocks than threads.
TEST(FieldPool, ConcurrentRendersNeverShareABlock) {
  FieldPool pool;
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  std::vector<int> clashes(kThreads, 0);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&pool, &clashes, t] {
      for (int round = 0; round < kRounds; ++round) {
        FieldPool::Lease lease = pool.borrow();
        const std::int64_t cells = 1024 * (1 + (round + t) % 4);
        float *field = lease.storage().reserve(cells);
        std::fill(field, field + cells, static_cast<float>(t));
        std::this_thread::yield();
        clashes[t] += std::count_if(field, field + cells, [t](float v) {
          return v != static_cast<float>(t);
        });
      }
    });
  for (std::thread &thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(clashes[t], 0) << "thread " << t;
  EXPECT_LE(pool.heldBytes(),
            kThreads * 4 * 1024 * std::int64_t(sizeof(float)));
  pool.purge();
  EXPECT_EQ(pool.heldBytes(), 0);
}

} // namespace
