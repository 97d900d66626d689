// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SplitterLayout.h"

#include <algorithm>
#include <cstdint>

namespace tessarook {

int CSplitterLayout::MulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const std::int64_t num = static_cast<std::int64_t>(a) * b;
  const bool negative = (num < 0) != (c < 0);
  const std::int64_t an = num < 0 ? -num : num;
  const std::int64_t ac = c < 0 ? -static_cast<std::int64_t>(c) : c;
  std::int64_t q = (an + ac / 2) / ac;
  if (q > INT32_MAX) q = INT32_MAX;
  return static_cast<int>(negative ? -q : q);
}

void CSplitterLayout::SetVisible(int index, bool visible) {
  SPaneLayout& pane = m_panes[index & 1];
  pane.visible = visible;
  if (!visible) {
    pane.folded = false;
    m_panes[(index & 1) ^ 1].folded = false;
  }
}

bool CSplitterLayout::Fold(int index) {
  SPaneLayout& pane = m_panes[index & 1];
  SPaneLayout& other = m_panes[(index & 1) ^ 1];
  if (pane.folded || !pane.visible || !other.visible) return false;
  pane.folded = true;
  other.folded = false;
  return true;
}

bool CSplitterLayout::Unfold(int index) {
  const int i = index & 1;
  if (!m_panes[i].folded) return false;
  m_panes[0].folded = false;
  m_panes[1].folded = false;
  const SRect& last = m_panes[i].rect;
  int pos;
  if (i == 0)
    pos = IsStacked() ? last.Bottom() : last.Right();
  else
    pos = (IsStacked() ? last.y : last.x) - m_barWidth;
  SetSplitPos(pos, m_extent);
  return true;
}

void CSplitterLayout::SetSplitPos(int pos, int extent) {
  m_pos = pos;
  m_basePos = pos;
  m_baseExtent = extent > 0 ? extent : 0;
}

int CSplitterLayout::MinPos() const { return PaneMinExtent(0); }

int CSplitterLayout::MaxPos() const { return m_extent - (PaneMinExtent(1) + m_barWidth); }

int CSplitterLayout::ClampPos(int pos) const {
  // A window too small for both minimums keeps pane 0's minimum.
  return std::max(MinPos(), std::min(pos, MaxPos()));
}

void CSplitterLayout::Layout(int width, int height, const SSplitterMetrics& metrics) {
  if (width <= 0 || height <= 0) return;
  m_width = width;
  m_height = height;
  const bool stacked = IsStacked();
  m_extent = stacked ? height : width;
  m_bar = SRect{};
  m_foldButtons[0] = m_foldButtons[1] = SRect{};
  m_barShown = false;
  m_panes[0].laidOut = m_panes[1].laidOut = false;

  // Builds a rectangle from a span [from, to) along the split axis, full across it.
  auto span = [&](int from, int to) {
    to = std::max(from, to);
    return stacked ? SRect{0, from, width, to - from} : SRect{from, 0, to - from, height};
  };

  const bool v0 = m_panes[0].visible;
  const bool v1 = m_panes[1].visible;
  if (v0 && v1) {
    m_barShown = true;
    if (m_panes[1].folded) {
      m_bar = span(m_extent - m_barWidth, m_extent);
      LayoutPane(0, span(0, m_extent - m_barWidth), metrics);
    } else if (m_panes[0].folded) {
      m_bar = span(0, m_barWidth);
      LayoutPane(1, span(m_barWidth, m_extent), metrics);
    } else {
      if (m_baseExtent <= 0) {
        m_baseExtent = m_extent;
        m_basePos = m_pos;
      }
      switch (m_flags & kSplitResizeMask) {
        case kSplitKeepPane1:
          m_pos = m_basePos + (m_extent - m_baseExtent);
          m_basePos = m_pos;
          m_baseExtent = m_extent;
          break;
        case kSplitProportional:
          m_pos = MulDiv(m_basePos, m_extent, m_baseExtent);
          break;
        default:
          break;
      }
      m_effectivePos = ClampPos(m_pos);
      LayoutPane(0, span(0, m_effectivePos), metrics);
      m_bar = span(m_effectivePos, m_effectivePos + m_barWidth);
      LayoutPane(1, span(m_effectivePos + m_barWidth, m_extent), metrics);
    }
    LayoutFoldButtons(metrics);
  } else if (v0) {
    LayoutPane(0, span(0, m_extent), metrics);
  } else if (v1) {
    LayoutPane(1, span(0, m_extent), metrics);
  }
}

void CSplitterLayout::LayoutPane(int index, const SRect& rect, const SSplitterMetrics& metrics) {
  SPaneLayout& pane = m_panes[index];
  pane.laidOut = true;
  pane.rect = rect;
  const int border = BorderWidth(pane.flags);
  SRect inner{rect.x + border, rect.y + border, std::max(0, rect.w - 2 * border),
              std::max(0, rect.h - 2 * border)};
  pane.caption = SRect{};
  pane.close = SRect{};
  const unsigned caption = pane.flags & kPaneCaptionMask;
  if (caption != 0) {
    const bool small = caption == kPaneCaptionSmall;
    const int ch = std::min(inner.h, small ? metrics.smallCaptionHeight : metrics.captionHeight);
    pane.caption = SRect{inner.x, inner.y, inner.w, ch};
    if (pane.flags & kPaneCloseButton) {
      const int bh = std::min(ch - 2, small ? metrics.smallButtonHeight : metrics.buttonHeight);
      const int bw = std::min(inner.w, small ? metrics.smallButtonWidth : metrics.buttonWidth);
      if (bh > 0 && bw > 0)
        pane.close = SRect{inner.Right() - bw - 1, inner.y + (ch - bh) / 2, bw, bh};
    }
    inner.y += ch;
    inner.h -= ch;
  }
  pane.client = inner;
}

void CSplitterLayout::LayoutFoldButtons(const SSplitterMetrics& metrics) {
  for (int i = 0; i < 2; ++i) {
    const unsigned fold = m_panes[i].flags & kPaneFoldMask;
    if (fold == 0) continue;
    const bool small = fold == kPaneFoldButtonSmall;
    if (IsStacked()) {
      const int w = small ? metrics.smallButtonWidth : metrics.buttonWidth;
      const int mid = m_bar.x + m_bar.w / 2;
      m_foldButtons[i] = SRect{i == 0 ? mid - 2 * w : mid + w, m_bar.y, w, m_bar.h};
    } else {
      const int h = small ? metrics.smallButtonHeight : metrics.buttonHeight;
      const int mid = m_bar.y + m_bar.h / 2;
      m_foldButtons[i] = SRect{m_bar.x, i == 0 ? mid - 2 * h : mid + h, m_bar.w, h};
    }
  }
}

int CSplitterLayout::HitTest(int x, int y) const {
  for (int i = 0; i < 2; ++i) {
    const SPaneLayout& pane = m_panes[i];
    if (pane.visible && !pane.folded && pane.laidOut && pane.close.Contains(x, y))
      return i == 0 ? kHitClose0 : kHitClose1;
  }
  if (!m_barShown) return kHitNone;
  if (m_foldButtons[0].Contains(x, y)) return kHitFold0;
  if (m_foldButtons[1].Contains(x, y)) return kHitFold1;
  // A bar pushed to the edge by a folded pane is not dragged; its fold button unfolds it.
  if (m_bar.Contains(x, y) && !m_panes[0].folded && !m_panes[1].folded) return kHitBar;
  return kHitNone;
}

int CSplitterLayout::FoldGlyph(int index) const {
  const bool folded = m_panes[index & 1].folded;
  if (IsStacked()) {
    if ((index & 1) == 0) return folded ? kGlyphUp : kGlyphDown;
    return folded ? kGlyphDown : kGlyphUp;
  }
  if ((index & 1) == 0) return folded ? kGlyphRight : kGlyphLeft;
  return folded ? kGlyphLeft : kGlyphRight;
}

}  // namespace tessarook
