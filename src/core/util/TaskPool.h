// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace tessarook {

// A fixed set of threads that run posted tasks. Urgent tasks run before the
// others that wait: a task the caller is waiting on at once goes ahead of work
// queued for later. Destroying the pool runs what is still queued, then joins.
class CTaskPool {
 public:
  // `threads` 0 means one per core; there is always at least one.
  explicit CTaskPool(unsigned threads);
  ~CTaskPool();
  CTaskPool(const CTaskPool&) = delete;
  CTaskPool& operator=(const CTaskPool&) = delete;

  unsigned Size() const { return static_cast<unsigned>(m_threads.size()); }

  // Runs `fn` on one of the pool's threads; the future gives its result.
  template <typename Fn>
  auto Post(Fn fn, bool urgent = false) -> std::future<decltype(fn())> {
    using Result = decltype(fn());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(fn));
    std::future<Result> result = task->get_future();
    Enqueue([task] { (*task)(); }, urgent);
    return result;
  }

  // The number of threads that `threads` asks for: itself, or one per core
  // for 0 (at least one).
  static unsigned Resolve(unsigned threads);

 private:
  void Enqueue(std::function<void()> task, bool urgent);
  void Work();

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::function<void()>> m_urgent;
  std::deque<std::function<void()>> m_normal;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace tessarook
