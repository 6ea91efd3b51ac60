#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace sitehost {

// A queue handed between threads: any thread pushes, a consumer pops with a
// deadline. Once closed, pushes are refused and pops drain what is left.
template <class Item>
class BlockingQueue {
 public:
  // False when the queue is closed.
  bool push(Item item) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        return false;
      }
      items_.push_back(std::move(item));
    }
    ready_.notify_all();
    return true;
  }

  // The oldest item, or nothing when the deadline passes (or the queue is
  // closed and empty).
  std::optional<Item> pop_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_until(lock, deadline, [this] { return closed_ || !items_.empty(); });
    return take(lock);
  }

  // Waits without a deadline; nothing only once closed and empty.
  std::optional<Item> pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return closed_ || !items_.empty(); });
    return take(lock);
  }

  // The oldest item if there is one, without waiting.
  std::optional<Item> try_pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    return take(lock);
  }

  // True once closed and empty: nothing will come any more.
  bool drained() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return closed_ && items_.empty();
  }

  void close() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

 private:
  std::optional<Item> take(std::unique_lock<std::mutex>& /*held*/) {
    if (items_.empty()) {
      return std::nullopt;
    }
    std::optional<Item> item(std::move(items_.front()));
    items_.pop_front();
    return item;
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Item> items_;
  bool closed_ = false;
};

}  // namespace sitehost
