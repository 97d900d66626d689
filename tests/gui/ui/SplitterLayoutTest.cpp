// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ui/SplitterLayout.h"

namespace tessarook {
namespace {

// Pane flags of the main window's panes: single border, one raised caption edge, small
// caption, flat buttons, and (for "My Schemes") a fold button.
constexpr unsigned kTitled = 0x115;
constexpr unsigned kTitledFoldable = 0x515;

SSplitterMetrics Metrics() {
  SSplitterMetrics m;
  m.smallCaptionHeight = 20;
  m.captionHeight = 26;
  m.smallButtonWidth = m.smallButtonHeight = 16;
  m.buttonWidth = m.buttonHeight = 22;
  return m;
}

CSplitterLayout SideBySide(unsigned mode, int pos, int width, int bar = 6) {
  CSplitterLayout layout;
  layout.SetFlags(kSplitSideBySide | kSplit3D | mode);
  layout.SetPaneFlags(0, kTitledFoldable);
  layout.SetPaneFlags(1, kTitled);
  layout.SetBarWidth(bar);
  layout.SetSplitPos(pos, width);
  layout.Layout(width, 300, Metrics());
  return layout;
}

TEST(SplitterLayout, SplitsSideBySideAndStacked) {
  CSplitterLayout side = SideBySide(kSplitKeepPane0, 200, 800);
  EXPECT_EQ(side.Pane(0).rect, (SRect{0, 0, 200, 300}));
  EXPECT_EQ(side.Bar(), (SRect{200, 0, 6, 300}));
  EXPECT_EQ(side.Pane(1).rect, (SRect{206, 0, 594, 300}));
  // Border inside the rectangle, caption strip along the top, the window below it.
  EXPECT_EQ(side.Pane(0).caption, (SRect{1, 1, 198, 20}));
  EXPECT_EQ(side.Pane(0).client, (SRect{1, 21, 198, 278}));
  EXPECT_TRUE(side.Pane(0).close.IsEmpty());

  CSplitterLayout stacked;
  stacked.SetFlags(kSplitStacked | kSplit3D | kSplitKeepPane0);
  stacked.SetPaneFlags(0, 0x2);  // double border, no caption
  stacked.SetPaneFlags(1, 0);
  stacked.SetBarWidth(2);
  stacked.SetSplitPos(250, 600);
  stacked.Layout(400, 600, Metrics());
  EXPECT_EQ(stacked.Pane(0).rect, (SRect{0, 0, 400, 250}));
  EXPECT_EQ(stacked.Bar(), (SRect{0, 250, 400, 2}));
  EXPECT_EQ(stacked.Pane(1).rect, (SRect{0, 252, 400, 348}));
  EXPECT_EQ(stacked.Pane(0).client, (SRect{2, 2, 396, 246}));
  EXPECT_EQ(stacked.Pane(1).client, stacked.Pane(1).rect);
}

TEST(SplitterLayout, ResizeModesOnParentResize) {
  // Keep pane 0: the position stays.
  CSplitterLayout keep0 = SideBySide(kSplitKeepPane0, 150, 400);
  keep0.Layout(800, 300, Metrics());
  EXPECT_EQ(keep0.GetSplitPos(), 150);

  // Keep pane 1: the bar follows the far edge, pane 1 keeps its width, across several resizes.
  CSplitterLayout keep1 = SideBySide(kSplitKeepPane1, 150, 400);
  const int pane1Width = keep1.Pane(1).rect.w;
  keep1.Layout(450, 300, Metrics());
  EXPECT_EQ(keep1.GetSplitPos(), 200);
  EXPECT_EQ(keep1.Pane(1).rect.w, pane1Width);
  keep1.Layout(420, 300, Metrics());
  EXPECT_EQ(keep1.GetSplitPos(), 170);
  EXPECT_EQ(keep1.Pane(1).rect.w, pane1Width);

  // Proportional: 100 of 400 becomes 200 of 800, and returns to 100 without drift.
  CSplitterLayout prop = SideBySide(kSplitProportional, 100, 400);
  prop.Layout(800, 300, Metrics());
  EXPECT_EQ(prop.GetSplitPos(), 200);
  prop.Layout(333, 300, Metrics());
  EXPECT_EQ(prop.GetSplitPos(), 83);  // 83.25
  prop.Layout(400, 300, Metrics());
  EXPECT_EQ(prop.GetSplitPos(), 100);

  // Unknown resize bits behave like "keep pane 0".
  CSplitterLayout other = SideBySide(0x18, 120, 400);
  other.Layout(900, 300, Metrics());
  EXPECT_EQ(other.GetSplitPos(), 120);
}

TEST(SplitterLayout, PositionSetBeforeTheFirstSizeIsTakenAsIs) {
  // The main window sets its positions before the splitters have a size. The first real size
  // becomes the base; nothing jumps and nothing is divided by zero.
  for (unsigned mode : {kSplitKeepPane0, kSplitKeepPane1, kSplitProportional}) {
    CSplitterLayout layout;
    layout.SetFlags(kSplitSideBySide | mode);
    layout.SetSplitPos(200, 0);
    layout.Layout(800, 600, Metrics());
    EXPECT_EQ(layout.GetSplitPos(), 200) << "mode " << mode;
    layout.Layout(1000, 600, Metrics());
    const int expected = mode == kSplitKeepPane0 ? 200 : mode == kSplitKeepPane1 ? 400 : 250;
    EXPECT_EQ(layout.GetSplitPos(), expected) << "mode " << mode;
  }
}

TEST(SplitterLayout, PositionIsKeptWithinBothPanes) {
  CSplitterLayout layout = SideBySide(kSplitKeepPane0, 5000, 800);
  EXPECT_EQ(layout.GetSplitPos(), 800 - (2 * 1 + 6));
  EXPECT_EQ(layout.Pane(1).rect.w, 2);
  EXPECT_EQ(layout.ClampPos(-40), 2);
  EXPECT_EQ(layout.ClampPos(10000), 792);
  EXPECT_EQ(layout.ClampPos(300), 300);
  // What the panes need besides their borders narrows the range on both sides.
  layout.SetPaneMinimum(0, 30);
  layout.SetPaneMinimum(1, 40);
  EXPECT_EQ(layout.ClampPos(-40), 2 + 30);
  EXPECT_EQ(layout.ClampPos(10000), 800 - (2 + 40 + 6));
  layout.Layout(800, 600, Metrics());
  EXPECT_EQ(layout.Pane(1).client.w, 40);

  // A window made narrow for a moment does not lose the position the user chose.
  CSplitterLayout narrow = SideBySide(kSplitKeepPane0, 300, 800);
  narrow.Layout(100, 300, Metrics());
  EXPECT_EQ(narrow.GetSplitPos(), 92);
  narrow.Layout(800, 300, Metrics());
  EXPECT_EQ(narrow.GetSplitPos(), 300);

  // A minimised (zero-size) window leaves the layout as it was.
  narrow.Layout(0, 0, Metrics());
  EXPECT_EQ(narrow.Width(), 800);
  EXPECT_EQ(narrow.Pane(1).rect, (SRect{306, 0, 494, 300}));
}

TEST(SplitterLayout, FoldAndUnfoldRestoreThePosition) {
  CSplitterLayout layout = SideBySide(kSplitKeepPane0, 200, 800);
  ASSERT_TRUE(layout.Fold(0));
  layout.Layout(800, 300, Metrics());
  EXPECT_FALSE(layout.Pane(0).laidOut);
  EXPECT_EQ(layout.Bar(), (SRect{0, 0, 6, 300}));
  EXPECT_EQ(layout.Pane(1).rect, (SRect{6, 0, 794, 300}));
  EXPECT_EQ(layout.FoldGlyph(0), kGlyphRight);
  EXPECT_FALSE(layout.Fold(0));
  ASSERT_TRUE(layout.Unfold(0));
  layout.Layout(800, 300, Metrics());
  EXPECT_EQ(layout.GetSplitPos(), 200);
  EXPECT_EQ(layout.FoldGlyph(0), kGlyphLeft);
  EXPECT_FALSE(layout.Unfold(0));

  // Pane 1 folds to the far edge and comes back to the same place.
  ASSERT_TRUE(layout.Fold(1));
  layout.Layout(800, 300, Metrics());
  EXPECT_EQ(layout.Bar(), (SRect{794, 0, 6, 300}));
  EXPECT_EQ(layout.Pane(0).rect, (SRect{0, 0, 794, 300}));
  ASSERT_TRUE(layout.Unfold(1));
  layout.Layout(800, 300, Metrics());
  EXPECT_EQ(layout.GetSplitPos(), 200);

  // Folding one pane unfolds the other: at most one is folded.
  ASSERT_TRUE(layout.Fold(0));
  ASSERT_TRUE(layout.Fold(1));
  EXPECT_FALSE(layout.IsFolded(0));
  EXPECT_TRUE(layout.IsFolded(1));

  // Stacked panes restore from their bottom / top edges.
  CSplitterLayout stacked;
  stacked.SetFlags(kSplitStacked | kSplitProportional);
  stacked.SetPaneFlags(1, 0x401);
  stacked.SetBarWidth(4);
  stacked.SetSplitPos(250, 600);
  stacked.Layout(500, 600, Metrics());
  ASSERT_TRUE(stacked.Fold(1));
  stacked.Layout(500, 600, Metrics());
  EXPECT_EQ(stacked.FoldGlyph(1), kGlyphDown);
  ASSERT_TRUE(stacked.Unfold(1));
  stacked.Layout(500, 600, Metrics());
  EXPECT_EQ(stacked.GetSplitPos(), 250);
}

TEST(SplitterLayout, HiddenPanes) {
  CSplitterLayout layout = SideBySide(kSplitKeepPane0, 200, 800);
  layout.SetVisible(1, false);
  layout.Layout(800, 300, Metrics());
  EXPECT_FALSE(layout.IsBarShown());
  EXPECT_EQ(layout.Pane(0).rect, (SRect{0, 0, 800, 300}));
  EXPECT_FALSE(layout.Pane(1).laidOut);
  EXPECT_EQ(layout.HitTest(203, 10), kHitNone);

  // Folding beside a hidden pane would leave nothing on screen: refused.
  EXPECT_FALSE(layout.Fold(0));
  layout.SetVisible(1, true);
  ASSERT_TRUE(layout.Fold(0));
  // Hiding the shown pane unfolds the folded one, so the splitter still shows a pane.
  layout.SetVisible(1, false);
  EXPECT_FALSE(layout.IsFolded(0));
  layout.Layout(800, 300, Metrics());
  EXPECT_TRUE(layout.Pane(0).laidOut);

  layout.SetVisible(0, false);
  layout.Layout(800, 300, Metrics());
  EXPECT_FALSE(layout.Pane(0).laidOut);
  EXPECT_FALSE(layout.Pane(1).laidOut);
}

TEST(SplitterLayout, HitTestAndButtons) {
  CSplitterLayout layout = SideBySide(kSplitKeepPane0, 200, 800);
  layout.SetPaneFlags(1, kTitled | kPaneCloseButton | kPaneFoldButtonSmall);
  layout.Layout(800, 300, Metrics());

  // Fold buttons: as wide as the bar, around its middle, pane 0's first.
  const SRect& f0 = layout.FoldButton(0);
  const SRect& f1 = layout.FoldButton(1);
  EXPECT_EQ(f0, (SRect{200, 150 - 44, 6, 22}));
  EXPECT_EQ(f1, (SRect{200, 150 + 16, 6, 16}));
  EXPECT_EQ(layout.HitTest(f0.x + 1, f0.y + 1), kHitFold0);
  EXPECT_EQ(layout.HitTest(f1.x + 1, f1.y + 1), kHitFold1);
  EXPECT_EQ(layout.HitTest(203, 5), kHitBar);
  EXPECT_EQ(layout.HitTest(100, 100), kHitNone);

  // The close button sits at the end of the caption, inside the border.
  const SRect& close = layout.Pane(1).close;
  ASSERT_FALSE(close.IsEmpty());
  EXPECT_LE(close.Right(), 799);
  EXPECT_GE(close.y, layout.Pane(1).caption.y);
  EXPECT_LE(close.Bottom(), layout.Pane(1).caption.Bottom());
  EXPECT_EQ(layout.HitTest(close.x + 2, close.y + 2), kHitClose1);

  // While a pane is folded its close button is gone and the bar is not dragged.
  ASSERT_TRUE(layout.Fold(1));
  layout.Layout(800, 300, Metrics());
  EXPECT_EQ(layout.HitTest(close.x + 2, close.y + 2), kHitNone);
  EXPECT_EQ(layout.HitTest(796, 5), kHitNone);
  EXPECT_EQ(layout.HitTest(layout.FoldButton(1).x + 1, layout.FoldButton(1).y + 1), kHitFold1);
}

TEST(SplitterLayout, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(CSplitterLayout::MulDiv(3, 3, 2), 5);
  EXPECT_EQ(CSplitterLayout::MulDiv(-3, 3, 2), -5);
  EXPECT_EQ(CSplitterLayout::MulDiv(7, 1, 3), 2);
  EXPECT_EQ(CSplitterLayout::MulDiv(100000, 100000, 1000), 10000000);  // no 32-bit overflow
  EXPECT_EQ(CSplitterLayout::MulDiv(5, 5, 0), 0);
}

}  // namespace
}  // namespace tessarook
