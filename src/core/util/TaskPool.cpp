// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/TaskPool.h"

namespace tessarook {

unsigned CTaskPool::Resolve(unsigned threads) {
  if (threads == 0) threads = std::thread::hardware_concurrency();
  return threads == 0 ? 1 : threads;
}

CTaskPool::CTaskPool(unsigned threads) {
  const unsigned n = Resolve(threads);
  m_threads.reserve(n);
  for (unsigned i = 0; i < n; ++i) m_threads.emplace_back([this] { Work(); });
}

CTaskPool::~CTaskPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_ready.notify_all();
  for (std::thread& t : m_threads) t.join();
}

void CTaskPool::Enqueue(std::function<void()> task, bool urgent) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    (urgent ? m_urgent : m_normal).push_back(std::move(task));
  }
  m_ready.notify_one();
}

void CTaskPool::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_ready.wait(lock, [this] { return m_stopping || !m_urgent.empty() || !m_normal.empty(); });
      std::deque<std::function<void()>>& queue = m_urgent.empty() ? m_normal : m_urgent;
      if (queue.empty()) return;  // stopping, and nothing is left
      task = std::move(queue.front());
      queue.pop_front();
    }
    task();
  }
}

}  // namespace tessarook
