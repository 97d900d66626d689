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
