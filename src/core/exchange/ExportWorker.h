// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "exchange/CsmWriter.h"
#include "util/WorkerThread.h"

namespace tessarook {

// The export worker: runs the .csm writer on its own thread. RequestStop (the
// "Cancel" button) is the writer's stop flag. The thread's exit code is the writer's
// result code (0 finished or stopped, 1 target not created or written, 2 source Scheme
// not readable). The progress sink is called on the worker's thread.
class CExportWorker : public CWorkerThread {
 public:
  ~CExportWorker() override;

  // Starts exporting Scheme `name` of `schemesDir` to `targetPath`. Refused (false)
  // while a run is under way.
  bool StartExport(std::string schemesDir, std::string name, std::string targetPath,
                   CExchangeProgress* progress);

  // The latest run's outcome; read once IsRunning() is false.
  ExportResult Result() const { return m_result.load(); }
  uint32_t Records() const { return m_records; }
  const std::vector<std::string>& Skipped() const { return m_skipped; }

 protected:
  int Run() override;

 private:
  std::string m_schemesDir, m_name, m_target;
  CExchangeProgress* m_progress = nullptr;
  std::atomic<ExportResult> m_result{ExportResult::kDone};
  uint32_t m_records = 0;
  std::vector<std::string> m_skipped;
};

}  // namespace tessarook
