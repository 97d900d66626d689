// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "backup/ByteMeter.h"
#include "util/TaskPool.h"

namespace tessarook {

// Up to `wanted` readers of the archive `source` is open on, each with its own
// open of the file; fewer when an open fails. `Reader` is CZipFile or a class
// derived from it.
template <class Reader, class Source>
std::vector<std::unique_ptr<Reader>> OpenReaders(const Source& source, unsigned wanted) {
  std::vector<std::unique_ptr<Reader>> readers;
  for (unsigned w = 0; w < wanted; ++w) {
    auto reader = std::make_unique<Reader>();
    if (!reader->OpenCopyOf(source)) break;
    readers.push_back(std::move(reader));
  }
  return readers;
}

// How many workers `jobs` asks for (0: one per core), never more than there
// is work for, and at least one.
inline unsigned WorkerCount(unsigned jobs, uint64_t work) {
  const unsigned n = CTaskPool::Resolve(jobs);
  return work < n ? static_cast<unsigned>(work == 0 ? 1 : work) : n;
}

// Workers that each read a Backup through a reader of their own and finish
// numbered items in any order, and the thread that reports the items in
// their order: it waits for each in turn and meanwhile passes the bytes the
// workers read on to its byte meter, so byte progress moves inside a large
// entry too. The threads are joined by Join or at destruction: whatever the
// workers' body uses must be declared before the CReaderWorkers object, so
// that it outlives them.
class CReaderWorkers {
 public:
  explicit CReaderWorkers(size_t items) : m_finished(items, 0) {}
  ~CReaderWorkers() { Join(); }
  CReaderWorkers(const CReaderWorkers&) = delete;
  CReaderWorkers& operator=(const CReaderWorkers&) = delete;

  // Starts one thread per reader running `body(reader)`; a thread the system
  // refuses is left out. False when none started.
  template <class Reader, class Body>
  bool Start(std::vector<std::unique_ptr<Reader>>& readers, Body body) {
    for (auto& reader : readers) {
      try {
        m_threads.emplace_back([body, r = reader.get()] { body(*r); });
      } catch (const std::system_error&) {
        break;
      }
    }
    return !m_threads.empty();
  }

  // For a worker's reader: counts the bytes it read, waking the reporting
  // thread every CByteMeter::kStep.
  void CountBytes(uint64_t size) {
    const uint64_t before = m_moved.fetch_add(size, std::memory_order_relaxed);
    if ((before + size) / CByteMeter::kStep != before / CByteMeter::kStep) {
      { std::lock_guard<std::mutex> hold(m_lock); }
      m_changed.notify_one();
    }
  }

  // For a worker: `store()` records item i's outcome; the reporting thread
  // reads it once WaitFor has seen i finished.
  template <class Store>
  void Finish(size_t i, Store store) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      store();
      m_finished[i] = 1;
    }
    m_changed.notify_one();
  }

  // For the reporting thread: waits until item i is finished, passing the
  // bytes read meanwhile to `bytes`. Returns the end of the run of finished
  // items that starts at i.
  size_t WaitFor(size_t i, CByteMeter& bytes) {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_finished[i]) {
      m_changed.wait_for(hold, std::chrono::milliseconds(50), [&] {
        return m_finished[i] ||
               m_moved.load(std::memory_order_relaxed) - m_counted >= CByteMeter::kStep;
      });
      PassBytes(bytes);
    }
    size_t end = i;
    while (end < m_finished.size() && m_finished[end]) ++end;
    hold.unlock();
    PassBytes(bytes);
    return end;
  }

  void Join() {
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
  }

 private:
  void PassBytes(CByteMeter& bytes) {
    const uint64_t now = m_moved.load(std::memory_order_relaxed);
    bytes.Add(now - m_counted);
    m_counted = now;
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<char> m_finished;  // under m_lock
  std::atomic<uint64_t> m_moved{0};
  uint64_t m_counted = 0;  // the reporting thread's own
  std::vector<std::thread> m_threads;
};

}  // namespace tessarook
