// SPDX-License-Identifier: GPL-3.0-or-later
// The My Schemes pane's export worker: the core export job, and a word to the
// pane when it has ended.
#ifndef TESSAROOK_GUI_LIBRARY_SCHEMEEXPORTWORKER_H
#define TESSAROOK_GUI_LIBRARY_SCHEMEEXPORTWORKER_H

#include <functional>

#include "exchange/ExportWorker.h"

namespace tessarook {

class CSchemeExportWorker : public CExportWorker {
 public:
  ~CSchemeExportWorker() override;

  // Called on the worker's thread once the export has ended, however it
  // ended; it must only queue work for the window thread. Set while idle.
  void SetOnEnded(std::function<void()> onEnded) { m_onEnded = std::move(onEnded); }

 protected:
  int Run() override;

 private:
  std::function<void()> m_onEnded;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEMEEXPORTWORKER_H
