// "My Schemes": the Schemes of the My Schemes folder.
#ifndef TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H
#define TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H

#include "app/ListPane.h"

namespace tessarook {

class CSchemesView : public CListPane {
 public:
  CSchemesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc);

  // Rebuilds the list of Schemes.
  void FillList();
  void OnDocumentUpdate() override;

 protected:
  wxString HintText() const override;

 private:
  void OnSize(wxSizeEvent& event);
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H
