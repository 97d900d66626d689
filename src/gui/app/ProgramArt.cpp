// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramArt.h"

#include <wx/icon.h>

namespace tessarook {

namespace {

#define SVG16 \
  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\" viewBox=\"0 0 16 16\">"

const char kNewSvg[] = SVG16
    "<path d=\"M3.5 1.5h6l3 3v10h-9z\" fill=\"#fff\" stroke=\"#55657a\"/>"
    "<path d=\"M9.5 1.5v3h3\" fill=\"#dde5ee\" stroke=\"#55657a\" stroke-linejoin=\"round\"/>"
    "<circle cx=\"11.5\" cy=\"11.5\" r=\"3.6\" fill=\"#2e9d4b\"/>"
    "<path d=\"M11.5 9.4v4.2M9.4 11.5h4.2\" stroke=\"#fff\" stroke-width=\"1.5\"/></svg>";

const char kOpenSvg[] = SVG16
    "<path d=\"M1.5 3.5h4.5l1.5 1.5h6v8.5h-12z\" fill=\"#e9b949\" stroke=\"#9a7320\" "
    "stroke-linejoin=\"round\"/>"
    "<path d=\"M1.5 13.5l2-6.5h12l-2 6.5z\" fill=\"#f7d98b\" stroke=\"#9a7320\" "
    "stroke-linejoin=\"round\"/></svg>";

const char kSaveSvg[] = SVG16
    "<path d=\"M2.5 2.5h9l2 2v9h-11z\" fill=\"#3f6fb5\" stroke=\"#234a80\" "
    "stroke-linejoin=\"round\"/>"
    "<rect x=\"4.5\" y=\"2.5\" width=\"6\" height=\"4\" fill=\"#e6edf6\" stroke=\"#234a80\"/>"
    "<rect x=\"8\" y=\"3.3\" width=\"1.5\" height=\"2.4\" fill=\"#234a80\"/>"
    "<rect x=\"4\" y=\"9\" width=\"8\" height=\"4.5\" fill=\"#fff\"/></svg>";

const char kCloseSvg[] = SVG16
    "<path d=\"M3.5 1.5h6l3 3v10h-9z\" fill=\"#fff\" stroke=\"#55657a\"/>"
    "<path d=\"M9.5 1.5v3h3\" fill=\"#dde5ee\" stroke=\"#55657a\" stroke-linejoin=\"round\"/>"
    "<circle cx=\"11.5\" cy=\"11.5\" r=\"3.6\" fill=\"#c8403a\"/>"
    "<path d=\"M10 10l3 3M13 10l-3 3\" stroke=\"#fff\" stroke-width=\"1.4\"/></svg>";

const char kSettingsSvg[] = SVG16
    "<path d=\"M1.5 4h13M1.5 8h13M1.5 12h13\" stroke=\"#55657a\" stroke-width=\"1.4\"/>"
    "<circle cx=\"5\" cy=\"4\" r=\"2\" fill=\"#fff\" stroke=\"#2f62a8\" stroke-width=\"1.3\"/>"
    "<circle cx=\"11\" cy=\"8\" r=\"2\" fill=\"#fff\" stroke=\"#2f62a8\" stroke-width=\"1.3\"/>"
    "<circle cx=\"7\" cy=\"12\" r=\"2\" fill=\"#fff\" stroke=\"#2f62a8\" stroke-width=\"1.3\"/>"
    "</svg>";

const char kManualSvg[] = SVG16
    "<path d=\"M1.5 3c2-1 4.5-1 6.5.3v11c-2-1.2-4.5-1.2-6.5-.3z\" fill=\"#fff\" "
    "stroke=\"#2f62a8\" stroke-linejoin=\"round\"/>"
    "<path d=\"M14.5 3c-2-1-4.5-1-6.5.3v11c2-1.2 4.5-1.2 6.5-.3z\" fill=\"#dbe6f5\" "
    "stroke=\"#2f62a8\" stroke-linejoin=\"round\"/>"
    "<path d=\"M3.2 6h3M3.2 8.5h3M9.8 6h3M9.8 8.5h3\" stroke=\"#8aa4c8\"/></svg>";

const char kAboutSvg[] = SVG16
    "<circle cx=\"8\" cy=\"8\" r=\"6.6\" fill=\"#2f6fc0\" stroke=\"#1d4e8f\"/>"
    "<rect x=\"7.2\" y=\"6.8\" width=\"1.6\" height=\"5.2\" rx=\".4\" fill=\"#fff\"/>"
    "<circle cx=\"8\" cy=\"4.7\" r=\"1.05\" fill=\"#fff\"/></svg>";

// A Backup: a dark-blue box that takes (arrow in) or gives back (arrow out).
const char kBackUpNowSvg[] = SVG16
    "<rect x=\"1.5\" y=\"8.5\" width=\"13\" height=\"6\" rx=\"1\" fill=\"#3f6fb5\" "
    "stroke=\"#234a80\"/>"
    "<circle cx=\"12\" cy=\"11.5\" r=\"1\" fill=\"#9fe0a8\"/>"
    "<path d=\"M8 1v6M5 4.5L8 7.5 11 4.5\" fill=\"none\" stroke=\"#2e9d4b\" "
    "stroke-width=\"1.8\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

const char kRestoreSvg[] = SVG16
    "<rect x=\"1.5\" y=\"8.5\" width=\"13\" height=\"6\" rx=\"1\" fill=\"#3f6fb5\" "
    "stroke=\"#234a80\"/>"
    "<path d=\"M8 7.5v-6M5 4L8 1 11 4\" fill=\"none\" stroke=\"#d07a1c\" "
    "stroke-width=\"1.8\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

const char kBrowseSvg[] = SVG16
    "<path d=\"M1.5 2.5h4l1.5 1.5h6.5v9h-12z\" fill=\"#e9b949\" stroke=\"#9a7320\" "
    "stroke-linejoin=\"round\"/>"
    "<circle cx=\"9.5\" cy=\"9\" r=\"3\" fill=\"#fff\" stroke=\"#2f62a8\" "
    "stroke-width=\"1.4\"/>"
    "<path d=\"M11.6 11.1l3 3\" stroke=\"#2f62a8\" stroke-width=\"1.8\" "
    "stroke-linecap=\"round\"/></svg>";

const char kVerifySvg[] = SVG16
    "<path d=\"M8 1.2l5.5 2v4.3c0 3.3-2.3 5.9-5.5 7.3-3.2-1.4-5.5-4-5.5-7.3V3.2z\" "
    "fill=\"#2e9d4b\" stroke=\"#1d6b33\" stroke-linejoin=\"round\"/>"
    "<path d=\"M5.2 8l2 2 3.6-4\" fill=\"none\" stroke=\"#fff\" stroke-width=\"1.6\" "
    "stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

const char kExportSchemeSvg[] = SVG16
    "<rect x=\"1.5\" y=\"3.5\" width=\"9\" height=\"11\" rx=\"1\" fill=\"#dbe6f5\" "
    "stroke=\"#2f62a8\"/>"
    "<path d=\"M6 9h8.5M11.5 6l3 3-3 3\" fill=\"none\" stroke=\"#2e9d4b\" "
    "stroke-width=\"1.7\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

const char kImportSchemeSvg[] = SVG16
    "<rect x=\"5.5\" y=\"3.5\" width=\"9\" height=\"11\" rx=\"1\" fill=\"#dbe6f5\" "
    "stroke=\"#2f62a8\"/>"
    "<path d=\"M1 9h9M7 6l3 3-3 3\" fill=\"none\" stroke=\"#d07a1c\" "
    "stroke-width=\"1.7\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

const char kScheduleSvg[] = SVG16
    "<circle cx=\"8\" cy=\"8\" r=\"6.5\" fill=\"#fff\" stroke=\"#2f62a8\" "
    "stroke-width=\"1.3\"/>"
    "<path d=\"M8 4v4l2.8 1.8\" fill=\"none\" stroke=\"#2f62a8\" stroke-width=\"1.5\" "
    "stroke-linecap=\"round\"/></svg>";

// A white rook on a blue tile with a green check: Schemes kept safe.
const char kProgramSvg[] =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">"
    "<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
    "<stop offset=\"0\" stop-color=\"#4a90d0\"/><stop offset=\"1\" stop-color=\"#1f4f86\"/>"
    "</linearGradient></defs>"
    "<rect x=\"3\" y=\"3\" width=\"58\" height=\"58\" rx=\"12\" fill=\"url(#g)\"/>"
    "<path d=\"M17 12h7v5h3v-5h6v5h3v-5h7v13l-4.5 4.5v12h4.5v9H17v-9h4.5v-12L17 25z\" "
    "fill=\"#fff\"/>"
    "<path d=\"M21.5 29.5h17\" stroke=\"#c9d9ee\" stroke-width=\"2\"/>"
    "<circle cx=\"46\" cy=\"46\" r=\"11.5\" fill=\"#2e9d4b\" stroke=\"#fff\" "
    "stroke-width=\"2.5\"/>"
    "<path d=\"M40.5 46.5l4 4 7-8\" fill=\"none\" stroke=\"#fff\" stroke-width=\"3.2\" "
    "stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg>";

}  // namespace

wxBitmapBundle ToolArt(Art art) {
  const char* svg = kAboutSvg;
  switch (art) {
    case Art::kNewScheme:
      svg = kNewSvg;
      break;
    case Art::kBackUpNow:
      svg = kBackUpNowSvg;
      break;
    case Art::kRestore:
      svg = kRestoreSvg;
      break;
    case Art::kBrowse:
      svg = kBrowseSvg;
      break;
    case Art::kVerify:
      svg = kVerifySvg;
      break;
    case Art::kExportScheme:
      svg = kExportSchemeSvg;
      break;
    case Art::kImportScheme:
      svg = kImportSchemeSvg;
      break;
    case Art::kSchedule:
      svg = kScheduleSvg;
      break;
    case Art::kOpen:
      svg = kOpenSvg;
      break;
    case Art::kSave:
      svg = kSaveSvg;
      break;
    case Art::kCloseScheme:
      svg = kCloseSvg;
      break;
    case Art::kSettings:
      svg = kSettingsSvg;
      break;
    case Art::kManual:
      svg = kManualSvg;
      break;
    case Art::kAbout:
      svg = kAboutSvg;
      break;
  }
  return wxBitmapBundle::FromSVG(svg, wxSize(16, 16));
}

wxBitmapBundle ProgramIconArt(int size) {
  return wxBitmapBundle::FromSVG(kProgramSvg, wxSize(size, size));
}

wxIconBundle ProgramIcons() {
  wxIconBundle icons;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    wxIcon icon;
    icon.CopyFromBitmap(ProgramIconArt(size).GetBitmap(wxSize(size, size)));
    icons.AddIcon(icon);
  }
  return icons;
}

const char* ProgramIconSvg() { return kProgramSvg; }

}  // namespace tessarook
