// SPDX-License-Identifier: GPL-3.0-or-later
// Toolkit-free geometry of the two-pane splitter: flags, pane states, the split position with
// its resize modes and limits, fold/unfold, and the rectangles of panes, captions, buttons and
// the bar. CBiSplitterWnd draws and places windows from these results.
#ifndef TESSAROOK_GUI_UI_SPLITTERLAYOUT_H
#define TESSAROOK_GUI_UI_SPLITTERLAYOUT_H

namespace tessarook {

// Splitter flags.
enum : unsigned {
  kSplitSideBySide = 0x1,  // split position = pane 0's width
  kSplitStacked = 0x2,     // split position = pane 0's height
  kSplitResizeMask = 0x1c,
  kSplitKeepPane0 = 0x4,  // any resize mode other than the two below keeps pane 0's size
  kSplitKeepPane1 = 0x8,
  kSplitProportional = 0x10,
  kSplit3D = 0x20,
};

// Pane flags.
enum : unsigned {
  kPaneBorderMask = 0x3,  // border width in pixels; twice it is the pane's minimum size
  kPaneBorderSingle = 0x1,
  kPaneBorderDouble = 0x2,
  kPaneCaptionStyleMask = 0xc,
  kPaneCaptionOneEdge = 0x4,
  kPaneCaptionTwoEdges = 0x8,
  kPaneCaptionMask = 0x30,
  kPaneCaptionSmall = 0x10,
  kPaneCaptionNormal = 0x20,
  kPaneButtonMask = 0x1c0,
  kPaneButton3D = 0x40,
  kPaneButtonDouble3D = 0x80,
  kPaneButtonFlat = 0x100,
  kPaneCloseButton = 0x200,
  kPaneFoldMask = 0xc00,
  kPaneFoldButton = 0x400,
  kPaneFoldButtonSmall = 0x800,
};

// Hit codes (also the tracking states of a held button).
enum : int {
  kHitNone = 0,
  kHitBar = 1,
  kHitClose0 = 2,
  kHitClose1 = 3,
  kHitFold0 = 4,
  kHitFold1 = 5,
};

// Glyphs of the buttons: arrows pointing left, right, down, up, and the close cross.
enum : int { kGlyphLeft = 0, kGlyphRight = 1, kGlyphDown = 2, kGlyphUp = 3, kGlyphClose = 4 };

struct SRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  int Right() const { return x + w; }
  int Bottom() const { return y + h; }
  bool IsEmpty() const { return w <= 0 || h <= 0; }
  bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
  bool operator==(const SRect&) const = default;
};

// Sizes the window supplies from the desktop theme.
struct SSplitterMetrics {
  int smallCaptionHeight = 18;
  int captionHeight = 24;
  int smallButtonWidth = 14;
  int smallButtonHeight = 14;
  int buttonWidth = 18;
  int buttonHeight = 18;
};

struct SPaneLayout {
  unsigned flags = 0;
  bool visible = true;
  bool folded = false;
  bool laidOut = false;  // the pane got an area in the last layout (visible and not folded)
  SRect rect;
  SRect caption;  // empty without a caption
  SRect close;    // empty without a close button
  SRect client;   // where the pane's window goes
};

class CSplitterLayout {
 public:
  unsigned GetFlags() const { return m_flags; }
  void SetFlags(unsigned flags) { m_flags = flags; }
  bool IsStacked() const { return (m_flags & kSplitStacked) != 0; }

  const SPaneLayout& Pane(int index) const { return m_panes[index & 1]; }
  unsigned GetPaneFlags(int index) const { return m_panes[index & 1].flags; }
  void SetPaneFlags(int index, unsigned flags) { m_panes[index & 1].flags = flags; }

  // Visibility. Hiding a pane also unfolds the other one: a folded pane is only possible
  // beside a shown one, otherwise the splitter would show nothing at all.
  void SetVisible(int index, bool visible);
  bool IsVisible(int index) const { return m_panes[index & 1].visible; }
  bool IsFolded(int index) const { return m_panes[index & 1].folded; }

  // Folds pane `index` (false when it or the other pane is hidden, or it is already folded).
  bool Fold(int index);
  // Unfolds pane `index` and restores the split position from its last rectangle (false when
  // it was not folded).
  bool Unfold(int index);

  // Records `pos` as the split position and, with the current extent along the split axis,
  // as the base of the resize modes. An extent of 0 (not sized yet) leaves the base to be
  // recorded by the first layout with a real size.
  void SetSplitPos(int pos, int extent);
  void SetSplitPos(int pos) { SetSplitPos(pos, m_extent); }
  int GetRequestedPos() const { return m_pos; }
  // The position in use after the last layout (within the limits).
  int GetSplitPos() const { return m_effectivePos; }

  // What pane `index` needs along the split axis besides its border (its
  // caption, the least of its window): the limits of the split position keep
  // each pane at least twice its border plus this. 0 after construction.
  void SetPaneMinimum(int index, int pixels) { m_minimum[index & 1] = pixels < 0 ? 0 : pixels; }
  int GetPaneMinimum(int index) const { return m_minimum[index & 1]; }
  // The least extent of pane `index` along the split axis.
  int PaneMinExtent(int index) const {
    return 2 * BorderWidth(m_panes[index & 1].flags) + m_minimum[index & 1];
  }

  void SetBarWidth(int pixels) { m_barWidth = pixels < 0 ? 0 : pixels; }
  int GetBarWidth() const { return m_barWidth; }

  // Computes every rectangle for a client area of width x height. Sizes of zero or less leave
  // the previous layout untouched (a minimised window keeps its arrangement).
  void Layout(int width, int height, const SSplitterMetrics& metrics);

  bool IsBarShown() const { return m_barShown; }
  const SRect& Bar() const { return m_bar; }
  const SRect& FoldButton(int index) const { return m_foldButtons[index & 1]; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

  // kHit* code for a point in client coordinates.
  int HitTest(int x, int y) const;

  // The nearest valid position for the bar's near edge while it is dragged.
  int ClampPos(int pos) const;

  // Glyph of pane `index`'s fold button in the current state.
  int FoldGlyph(int index) const;

  static int BorderWidth(unsigned paneFlags) {
    return static_cast<int>(paneFlags & kPaneBorderMask);
  }
  // Rounds to nearest, halves away from zero; 0 when c is 0.
  static int MulDiv(int a, int b, int c);

 private:
  void LayoutPane(int index, const SRect& rect, const SSplitterMetrics& metrics);
  void LayoutFoldButtons(const SSplitterMetrics& metrics);
  int MinPos() const;
  int MaxPos() const;

  unsigned m_flags = kSplitSideBySide;
  SPaneLayout m_panes[2];
  int m_pos = 0;           // requested split position
  int m_effectivePos = 0;  // after the limits
  int m_basePos = 0;
  int m_baseExtent = 0;  // 0: no base recorded yet
  int m_barWidth = 3;
  int m_minimum[2] = {0, 0};
  bool m_barShown = false;
  SRect m_bar;
  SRect m_foldButtons[2];
  int m_width = 0;
  int m_height = 0;
  int m_extent = 0;  // m_width or m_height, along the split axis
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_UI_SPLITTERLAYOUT_H
