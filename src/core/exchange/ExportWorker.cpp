// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/ExportWorker.h"

namespace tessarook {

CExportWorker::~CExportWorker() { StopAndWait(); }

bool CExportWorker::StartExport(std::string schemesDir, std::string name, std::string targetPath,
                                CExchangeProgress* progress) {
  if (IsRunning()) return false;
  Wait();  // a finished thread is joined before its inputs are replaced
  m_schemesDir = std::move(schemesDir);
  m_name = std::move(name);
  m_target = std::move(targetPath);
  m_progress = progress;
  return Start();
}

int CExportWorker::Run() {
  CCsmWriter writer(m_schemesDir);
  writer.SetProgress(m_progress);
  writer.SetStopCheck([this] { return IsStopRequested(); });
  const ExportResult result = writer.Run(m_name, m_target);
  m_records = writer.Records();
  m_skipped = writer.Skipped();
  m_result.store(result);
  return ExportExitCode(result);
}

}  // namespace tessarook
