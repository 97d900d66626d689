// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/TaskWorker.h"

namespace tessarook {

CTaskWorker::~CTaskWorker() { StopAndWait(); }

bool CTaskWorker::StartTask(std::function<int()> task) {
  if (IsRunning()) return false;
  Wait();  // a finished thread is joined before the task is replaced
  m_task = std::move(task);
  m_cancel.store(false);
  return Start();
}

int CTaskWorker::Run() {
  // Worker thread.
  return m_task ? m_task() : 0;
}

}  // namespace tessarook
