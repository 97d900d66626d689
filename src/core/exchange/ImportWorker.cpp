// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/ImportWorker.h"

namespace tessarook {

CImportWorker::~CImportWorker() { StopAndWait(); }

bool CImportWorker::StartImport(std::string schemesDir, std::string csmPath,
                                CExchangeProgress* progress) {
  if (IsRunning()) return false;
  Wait();  // a finished thread is joined before its inputs are replaced
  m_schemesDir = std::move(schemesDir);
  m_csmPath = std::move(csmPath);
  m_progress = progress;
  return Start();
}

int CImportWorker::Run() {
  CCsmReader reader(m_schemesDir);
  reader.SetProgress(m_progress);
  reader.SetStopCheck([this] { return IsStopRequested(); });
  const ImportResult result = reader.Run(m_csmPath);
  m_name = reader.Name();
  m_records = reader.Records();
  m_skipped = reader.Skipped();
  m_result.store(result);
  return ImportExitCode(result);
}

}  // namespace tessarook
