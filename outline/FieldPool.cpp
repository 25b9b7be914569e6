#include "FieldPool.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <limits>
#include <new>

namespace rimlet {

namespace {

// Pages straight from the system, zeroed and committed, or null. Freed with
// unmapPages, they go back to the system at once.
void *mapPages(std::size_t bytes) {
#if defined(_WIN32)
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
  void *block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
#endif
}

void unmapPages(void *block, std::size_t bytes) noexcept {
#if defined(_WIN32)
  (void)bytes;
  VirtualFree(block, 0, MEM_RELEASE);
#else
  munmap(block, bytes);
#endif
}

} // namespace

float *FieldStorage::reserve(std::int64_t cells) {
  if (cells <= capacity_)
    return cells_;
  release();
  constexpr auto kMaxCells = static_cast<std::int64_t>(
      std::numeric_limits<std::size_t>::max() / sizeof(float));
  if (cells > kMaxCells)
    throw std::bad_alloc();
  const std::size_t bytes = static_cast<std::size_t>(cells) * sizeof(float);
  void *block = mapPages(bytes);
  if (block == nullptr)
    throw std::bad_alloc();
  cells_ = static_cast<float *>(block);
  capacity_ = cells;
  bytes_ = static_cast<std::int64_t>(bytes);
  if (held_ != nullptr)
    held_->fetch_add(bytes_);
  return cells_;
}

void FieldStorage::release() noexcept {
  if (cells_ == nullptr)
    return;
  unmapPages(cells_, static_cast<std::size_t>(bytes_));
  if (held_ != nullptr)
    held_->fetch_sub(bytes_);
  cells_ = nullptr;
  capacity_ = 0;
  bytes_ = 0;
}

FieldPool::FieldPool(Clock::duration idleLimit,
                     std::function<Clock::time_point()> now)
    : idleLimit_(idleLimit), now_(std::move(now)) {}

FieldPool::Lease::~Lease() {
  if (block_)
    pool_->giveBack(std::move(block_));
}

FieldPool::Lease FieldPool::borrow() {
  std::vector<IdleBlock> expired;
  std::unique_ptr<FieldStorage> block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    takeExpired(now_(), expired);
    if (!idle_.empty()) {
      block = std::move(idle_.back().block);
      idle_.pop_back();
    }
  }
  if (!block)
    block = std::make_unique<FieldStorage>(&held_);
  return Lease(*this, std::move(block));
}

void FieldPool::giveBack(std::unique_ptr<FieldStorage> block) noexcept {
  std::vector<IdleBlock> expired;
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    const Clock::time_point now = now_();
    takeExpired(now, expired);
    // An empty block is not worth a place: the next borrow makes one as
    // cheaply.
    if (block->bytes() > 0)
      idle_.push_back({std::move(block), now});
  } catch (...) {
    // No room to keep it (or no clock): it is freed instead, which only
    // costs the next render its page faults.
  }
  // `block` and `expired`, when they still hold blocks, are freed after
  // the lock is released: destroyed in reverse order of declaration.
}

void FieldPool::takeExpired(Clock::time_point now,
                            std::vector<IdleBlock> &expired) {
  const auto firstFresh =
      std::find_if(idle_.begin(), idle_.end(), [&](const IdleBlock &b) {
        return now - b.since <= idleLimit_;
      });
  if (firstFresh == idle_.begin())
    return;
  expired.assign(std::make_move_iterator(idle_.begin()),
                 std::make_move_iterator(firstFresh));
  idle_.erase(idle_.begin(), firstFresh);
}

void FieldPool::purge() {
  std::vector<IdleBlock> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    idle.swap(idle_);
  }
}

std::size_t FieldPool::idleBlocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

FieldPool &moduleFieldPool() {
  static FieldPool pool;
  return pool;
}

} // namespace rimlet
