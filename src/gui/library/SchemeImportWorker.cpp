// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemeImportWorker.h"

namespace tessarook {

CSchemeImportWorker::~CSchemeImportWorker() { StopAndWait(); }

// Worker thread.
int CSchemeImportWorker::Run() {
  const int code = CImportWorker::Run();
  if (m_onEnded) m_onEnded();
  return code;
}

}  // namespace tessarook
