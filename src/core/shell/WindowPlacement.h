// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessarook {

// The main window's placement as it is kept between runs in the profile store
// ("wstatus"): the normal (restored) position and size and whether the window
// was maximised. Stored as the text "v1 X Y WIDTH HEIGHT MAXIMISED"; anything
// else read back is refused whole, so a damaged value leaves the window at its
// default placement.
class CWindowPlacement {
 public:
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool maximised = false;

  // The stored text.
  std::string ToText() const;

  // The placement a stored text describes, or nothing when the text is not a
  // complete, well-formed record with a usable size (1 to kMaxExtent pixels
  // each way) and a position within +-kMaxExtent.
  static std::optional<CWindowPlacement> FromText(std::string_view text);

  bool operator==(const CWindowPlacement&) const = default;

  // This placement fitted into a display's work area (the part panels leave
  // free): no wider or taller than the area, and moved so that all of it lies
  // inside. A placement saved at another scale or on a larger display comes
  // back whole, status bar included. An empty area changes nothing.
  CWindowPlacement FittedInto(int areaX, int areaY, int areaWidth, int areaHeight) const;

  static constexpr int kMaxExtent = 100000;
};

}  // namespace tessarook
