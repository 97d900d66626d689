// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemeExportWorker.h"

namespace tessarook {

CSchemeExportWorker::~CSchemeExportWorker() { StopAndWait(); }

// Worker thread.
int CSchemeExportWorker::Run() {
  const int code = CExportWorker::Run();
  if (m_onEnded) m_onEnded();
  return code;
}

}  // namespace tessarook
