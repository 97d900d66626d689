#include "library/SchemesView.h"

namespace tessarook {

CSchemesView::CSchemesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc)
    : CListPane(parent, id, doc, wxColour(223, 226, 230)) {
  wxListCtrl* list = GetList();
  list->SetWindowStyleFlag(wxLC_REPORT | wxLC_NO_HEADER | wxLC_SINGLE_SEL | wxLC_SORT_ASCENDING |
                           wxLC_EDIT_LABELS | wxBORDER_NONE);
  list->InsertColumn(0, wxString(), wxLIST_FORMAT_LEFT, 180);
  list->Bind(wxEVT_SIZE, &CSchemesView::OnSize, this);
  FillList();
}

void CSchemesView::FillList() {
  GetList()->DeleteAllItems();
  UpdateHint();
}

void CSchemesView::OnDocumentUpdate() { FillList(); }

wxString CSchemesView::HintText() const { return "(no schemes)"; }

void CSchemesView::OnSize(wxSizeEvent& event) {
  // One column as wide as the list.
  const int width = GetList()->GetClientSize().x - 1;
  if (width > 0) GetList()->SetColumnWidth(0, width);
  event.Skip();
}

}  // namespace tessarook
