// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgressDisplay.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/statusbr.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "app/CommandIds.h"

namespace tessarook {

namespace {

// The gauge counts in an int; large totals are scaled to this many steps.
constexpr int kGaugeSteps = 10000;
constexpr auto kMinInterval = std::chrono::milliseconds(50);

// Runs on the worker thread; each update is posted to the window thread.
class CThrottledSink : public IProgressSink {
 public:
  explicit CThrottledSink(std::shared_ptr<CProgressDisplay::Token> token)
      : m_token(std::move(token)) {}

  // Worker thread.
  void OnProgress(uint64_t done, uint64_t total) override {
    const auto now = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      const bool edge = m_first || done == 0 || done >= total;
      if (!edge && now - m_lastPost < kMinInterval) return;
      m_first = false;
      m_lastPost = now;
    }
    if (!wxTheApp) return;
    std::shared_ptr<CProgressDisplay::Token> token = m_token;
    // Window thread: the display may be gone by then.
    wxTheApp->CallAfter([token, done, total] {
      if (token->display) token->display->SetProgress(done, total);
    });
  }

 private:
  std::shared_ptr<CProgressDisplay::Token> m_token;
  std::mutex m_mutex;
  std::chrono::steady_clock::time_point m_lastPost;
  bool m_first = true;
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
  if (m_bar->GetFieldRect(STATUS_FIELD_CANCEL, field)) m_cancel->SetSize(field);
}

void CProgressDisplay::SetLabel(const wxString& text) {
  m_bar->SetStatusText(text, STATUS_FIELD_PROGRESS_LABEL);
}

void CProgressDisplay::ShowProgress() {
  SetProgress(0, 0);
  Reposition();
  m_gauge->Show();
  SetLabel("Progress:");
  m_cancel->Show();
}

void CProgressDisplay::HideProgress() {
  m_gauge->Hide();
  SetLabel(wxString(' ', 16));
  m_cancel->Hide();
}

bool CProgressDisplay::IsProgressShown() const { return m_gauge->IsShown(); }

void CProgressDisplay::SetProgress(uint64_t done, uint64_t total) {
  m_done = done;
  m_total = total;
  int position = 0;
  if (total > 0) {
    const uint64_t clamped = done > total ? total : done;
    position = int(double(clamped) * kGaugeSteps / double(total));
  }
  m_gauge->SetValue(position);
}

std::unique_ptr<IProgressSink> CProgressDisplay::MakeSink() {
  return std::make_unique<CThrottledSink>(m_token);
}

}  // namespace tessarook
