// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgressDisplay.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>

#include <chrono>
#include <utility>

#include "app/CommandIds.h"
#include "shell/ThrottledProgress.h"

namespace tessarook {

namespace {

// The gauge counts in an int; large totals are scaled to this many steps.
constexpr int kGaugeSteps = 10000;

// Runs on the worker thread; each update is posted to the window thread.
class CThrottledSink : public CThrottledProgress {
 public:
  explicit CThrottledSink(std::shared_ptr<CProgressDisplay::Token> token)
      : m_token(std::move(token)) {}

 private:
  void Deliver(const ProgressCounts& counts) override {
    if (!wxTheApp) return;
    // Window thread: the display may be gone by then.
    wxTheApp->CallAfter([token = m_token, counts] {
      if (!token->display) return;
      token->display->SetProgress(counts.files, counts.filesTotal);
      if (counts.haveBytes) token->display->SetBytes(counts.bytes, counts.bytesTotal);
    });
  }

  std::shared_ptr<CProgressDisplay::Token> m_token;
};

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

wxString Utf8(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }

// The names behind a summary.
class CDetailsDlg : public wxDialog {
 public:
  CDetailsDlg(wxWindow* parent, const OperationSummary& summary)
      : wxDialog(parent, wxID_ANY, "Details", wxDefaultPosition, wxDefaultSize,
                 wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY, Utf8(SummaryText(summary))), 0, wxALL, 8);
    wxArrayString lines;
    for (const std::string& line : SummaryDetails(summary)) lines.Add(Utf8(line));
    m_list = new wxListBox(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(560, 240)), lines,
                           wxLB_SINGLE | wxLB_HSCROLL);
    sizer->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
    sizer->Add(CreateButtonSizer(wxOK), 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(sizer);
  }
  wxListBox* m_list;
};

}  // namespace

CProgressDisplay::CProgressDisplay(wxStatusBar* bar)
    : m_bar(bar), m_token(std::make_shared<Token>()) {
  m_token->display = this;
  m_gauge = new wxGauge(bar, wxID_ANY, kGaugeSteps, wxDefaultPosition, wxDefaultSize,
                        wxGA_HORIZONTAL | wxGA_SMOOTH);
  m_gauge->Hide();
  m_cancel = new wxButton(bar, ID_CANCEL_OPERATION, "Cancel", wxDefaultPosition, wxDefaultSize,
                          wxBU_EXACTFIT);
  m_cancel->Hide();
  m_details =
      new wxButton(bar, wxID_ANY, "Details...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  m_details->Hide();
  m_details->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowDetails(); });
  Reposition();
  m_bar->Bind(wxEVT_SIZE, &CProgressDisplay::OnBarSize, this);
  SetLabel(wxString(' ', 16));
}

CProgressDisplay::~CProgressDisplay() {
  m_token->display = nullptr;
  m_bar->Unbind(wxEVT_SIZE, &CProgressDisplay::OnBarSize, this);
}

void CProgressDisplay::OnBarSize(wxSizeEvent& event) {
  Reposition();
  event.Skip();
}

void CProgressDisplay::Reposition() {
  wxRect field;
  if (m_bar->GetFieldRect(STATUS_FIELD_PROGRESS_BAR, field)) m_gauge->SetSize(field);
  if (m_bar->GetFieldRect(STATUS_FIELD_CANCEL, field)) {
    m_cancel->SetSize(field);
    m_details->SetSize(field);
  }
}

void CProgressDisplay::SetLabel(const wxString& text) {
  m_bar->SetStatusText(text, STATUS_FIELD_PROGRESS_LABEL);
}

void CProgressDisplay::ShowProgress() {
  m_summary.reset();
  m_details->Hide();
  m_haveBytes = false;
  m_bytesDone = m_bytesTotal = 0;
  m_rate.Reset();
  SetProgress(0, 0);
  Reposition();
  m_gauge->Show();
  SetLabel("Progress:");
  m_cancel->Show();
}

void CProgressDisplay::HideProgress() {
  if (m_gauge->IsShown()) m_bar->SetStatusText("Ready", STATUS_FIELD_PROMPT);
  m_gauge->Hide();
  SetLabel(wxString(' ', 16));
  m_cancel->Hide();
}

bool CProgressDisplay::IsProgressShown() const { return m_gauge->IsShown(); }

void CProgressDisplay::SetProgress(uint64_t done, uint64_t total) {
  m_done = done;
  m_total = total;
  UpdateGauge();
  UpdateText();
}

void CProgressDisplay::SetBytes(uint64_t done, uint64_t total, int64_t nowMs) {
  m_haveBytes = true;
  m_bytesDone = done;
  m_bytesTotal = total;
  m_rate.Add(done, nowMs < 0 ? SteadyMs() : nowMs);
  UpdateGauge();
  UpdateText();
}

void CProgressDisplay::UpdateGauge() {
  const uint64_t done = m_haveBytes ? m_bytesDone : m_done;
  const uint64_t total = m_haveBytes ? m_bytesTotal : m_total;
  int position = 0;
  if (total > 0) {
    const uint64_t clamped = done > total ? total : done;
    position = int(double(clamped) * kGaugeSteps / double(total));
  } else if (m_haveBytes && m_total > 0) {
    position = int(double(std::min(m_done, m_total)) * kGaugeSteps / double(m_total));
  }
  m_gauge->SetValue(position);
}

wxString CProgressDisplay::GetProgressText() const {
  if (!m_total && !m_haveBytes) return wxString();
  return Utf8(ByteProgressText(m_done, m_total, m_haveBytes && m_bytesTotal > 0, m_bytesDone,
                               m_bytesTotal, m_rate.Rate()));
}

void CProgressDisplay::UpdateText() {
  if (!IsProgressShown()) return;
  const wxString text = GetProgressText();
  if (m_bar->GetStatusText(STATUS_FIELD_PROMPT) != text)
    m_bar->SetStatusText(text, STATUS_FIELD_PROMPT);
}

void CProgressDisplay::ShowSummary(const OperationSummary& summary) {
  m_summary = summary;
  m_bar->SetStatusText(Utf8(SummaryText(summary)), STATUS_FIELD_PROMPT);
  // Where "Cancel" stood, unless another operation shows its progress there.
  Reposition();
  m_details->Show(summary.HasDetails() && !IsProgressShown());
}

void CProgressDisplay::ShowDetails() {
  if (!m_summary) return;
  CDetailsDlg dialog(wxGetTopLevelParent(m_bar), *m_summary);
  dialog.ShowModal();
}

std::unique_ptr<IProgressSink> CProgressDisplay::MakeSink() {
  return std::make_unique<CThrottledSink>(m_token);
}

}  // namespace tessarook
