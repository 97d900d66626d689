// SPDX-License-Identifier: GPL-3.0-or-later
// The My Schemes pane's import worker: the core import job, and a word to the
// pane when it has ended.
#ifndef TESSAROOK_GUI_LIBRARY_SCHEMEIMPORTWORKER_H
#define TESSAROOK_GUI_LIBRARY_SCHEMEIMPORTWORKER_H

#include <functional>

#include "exchange/ImportWorker.h"

namespace tessarook {

class CSchemeImportWorker : public CImportWorker {
 public:
  ~CSchemeImportWorker() override;

  // Called on the worker's thread once the import has ended, however it
  // ended; it must only queue work for the window thread. Set while idle.
  void SetOnEnded(std::function<void()> onEnded) { m_onEnded = std::move(onEnded); }

 protected:
  int Run() override;

 private:
  std::function<void()> m_onEnded;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEMEIMPORTWORKER_H
