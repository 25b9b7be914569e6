// Memory for the outline's distance field, shared by every instance of the
// module and held only as long as renders need it.
//
// A fresh block for a whole frame's field costs the system a page fault per
// page on first touch, which for a 4K frame is a large share of the render,
// so blocks are reused from render to render. They are not kept per
// instance, though: a timeline with many outlined titles would hold a block
// for each while only the renders in flight use any. A render borrows a
// block from the module's pool and gives it back when it returns, so the
// pool holds as many blocks as renders ever ran at once, and fewer again
// once the burst is over:
//
// - A block that has sat idle longer than the pool's idle limit is freed at
//   the next borrow or return. No thread of ours wakes up to free it: a
//   module that renders nothing holds what it held after its last render
//   (one block per render that ran at once), and a host short of memory
//   says so with the purge-caches action.
// - purge() frees every idle block at once.
// - A borrow takes the block given back last: the blocks of a past burst of
//   concurrent renders then age out while one stays warm for the next.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rimlet {

// A block of field cells that only grows. Its pages are mapped from the
// system directly rather than through the heap: freeing a block then gives
// its memory back to the system whatever the allocator's thresholds, which
// is the point of purging.
class FieldStorage {
public:
  FieldStorage() = default;
  // Keeps `held` up to date with the bytes this block holds.
  explicit FieldStorage(std::atomic<std::int64_t> *held) : held_(held) {}
  ~FieldStorage() { release(); }
  FieldStorage(const FieldStorage &) = delete;
  FieldStorage &operator=(const FieldStorage &) = delete;

  // At least `cells` cells, their values unset. Throws std::bad_alloc.
  float *reserve(std::int64_t cells);
  std::int64_t bytes() const { return bytes_; }

private:
  void release() noexcept;

  float *cells_ = nullptr;
  std::int64_t capacity_ = 0;
  std::int64_t bytes_ = 0;
  std::atomic<std::int64_t> *held_ = nullptr;
};

class FieldPool {
public:
  using Clock = std::chrono::steady_clock;
  // Long against the time between a host's renders of a clip (a frame
  // interval while playing, a few seconds between edits), so that steady
  // work never loses a block; short against the minutes a timeline sits
  // idle. Losing a block costs one render its page faults (a few
  // milliseconds at 4K), keeping one costs its memory for as long.
  static constexpr Clock::duration kDefaultIdleLimit = std::chrono::seconds(10);

  // `now` stands in for the clock (tests age blocks without waiting).
  explicit FieldPool(Clock::duration idleLimit = kDefaultIdleLimit,
                     std::function<Clock::time_point()> now = &Clock::now);
  FieldPool(const FieldPool &) = delete;
  FieldPool &operator=(const FieldPool &) = delete;

  // A block lent for one render, given back when the lease ends. The pool
  // must outlive its leases.
  class Lease {
  public:
    Lease(Lease &&other) noexcept = default;
    Lease &operator=(Lease &&) = delete;
    Lease(const Lease &) = delete;
    ~Lease();
    FieldStorage &storage() { return *block_; }

  private:
    friend class FieldPool;
    Lease(FieldPool &pool, std::unique_ptr<FieldStorage> block)
        : pool_(&pool), block_(std::move(block)) {}

    FieldPool *pool_;
    std::unique_ptr<FieldStorage> block_;
  };

  // Throws std::bad_alloc.
  Lease borrow();
  // Frees every block not lent at the moment.
  void purge();

  // Bytes held by the pool's blocks, lent or idle.
  std::int64_t heldBytes() const { return held_.load(); }
  std::size_t idleBlocks() const;

private:
  struct IdleBlock {
    std::unique_ptr<FieldStorage> block;
    Clock::time_point since;
  };

  void giveBack(std::unique_ptr<FieldStorage> block) noexcept;
  // Moves the blocks idle too long into `expired`, to be freed once the
  // lock is released. Called with the lock held.
  void takeExpired(Clock::time_point now, std::vector<IdleBlock> &expired);

  const Clock::duration idleLimit_;
  const std::function<Clock::time_point()> now_;
  mutable std::mutex mutex_;
  // In the order they were given back: the longest idle first.
  std::vector<IdleBlock> idle_;
  std::atomic<std::int64_t> held_{0};
};

// The pool of this module, shared by all its instances.
FieldPool &moduleFieldPool();

} // namespace rimlet
