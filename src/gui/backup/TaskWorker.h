// SPDX-License-Identifier: GPL-3.0-or-later
// A worker thread that runs one task handed to it before each start: the
// backups view's backup and ZIP export, and the contents dialog's restore.
#ifndef TESSAROOK_GUI_BACKUP_TASKWORKER_H
#define TESSAROOK_GUI_BACKUP_TASKWORKER_H

#include <atomic>
#include <functional>

#include "util/WorkerThread.h"

namespace tessarook {

class CTaskWorker : public CWorkerThread {
 public:
  ~CTaskWorker() override;

  // Window thread: starts `task` on the worker thread. False while a task
  // still runs (nothing changes then).
  bool StartTask(std::function<int()> task);

  // The flag the core jobs poll (also while a file is copied). Cancel sets it
  // together with the thread's stop request; use Cancel, not RequestStop.
  std::atomic<bool>& CancelFlag() { return m_cancel; }
  void Cancel() {
    m_cancel.store(true);
    RequestStop();
  }

 protected:
  int Run() override;

 private:
  std::function<int()> m_task;
  std::atomic<bool> m_cancel{false};
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_TASKWORKER_H
