// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "exchange/CsmReader.h"
#include "util/WorkerThread.h"

namespace tessarook {

// The import worker: runs the .csm reader on its own thread. RequestStop (the
// "Cancel" button) is the reader's stop flag. The thread's exit code is the reader's
// result code (0 finished or stopped, 1 file not readable or damaged, 2 Scheme not
// created). The progress sink is called on the worker's thread.
class CImportWorker : public CWorkerThread {
 public:
  ~CImportWorker() override;

  // Starts importing `csmPath` into `schemesDir`. Refused (false) while a run is under
  // way.
  bool StartImport(std::string schemesDir, std::string csmPath, CExchangeProgress* progress);

  // The latest run's outcome; read once IsRunning() is false.
  ImportResult Result() const { return m_result.load(); }
  const std::string& Name() const { return m_name; }
  uint32_t Records() const { return m_records; }
  const std::vector<std::string>& Skipped() const { return m_skipped; }

 protected:
  int Run() override;

 private:
  std::string m_schemesDir, m_csmPath;
  CExchangeProgress* m_progress = nullptr;
  std::atomic<ImportResult> m_result{ImportResult::kDone};
  std::string m_name;
  uint32_t m_records = 0;
  std::vector<std::string> m_skipped;
};

}  // namespace tessarook
