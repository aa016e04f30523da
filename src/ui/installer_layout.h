// The installer window's geometry: its design, and the column of install
// buttons that the versions found turn it into.
#pragma once

#include <optional>
#include <vector>

#include "platform/installer_view.h"

namespace zarvelo {

// Control identifiers; install button k has kFirstInstallButtonId + k.
inline constexpr int kInfoTextId = 1001;
inline constexpr int kStatusLineId = 1002;
inline constexpr int kWebsiteTextId = 1003;
inline constexpr int kFirstInstallButtonId = 1100;

// The window as designed, before the versions are shown.
WindowDesign InstallerDesign();

struct ColumnLayout {
  // One per version, below each other from the design's button down; the
  // design's button alone when there is no version.
  std::vector<TwipRect> buttons;
  // The window's outer height for a column of two or more; otherwise the
  // design's size stays.
  std::optional<Twips> windowHeight;
};

// Where the install buttons for `versions` versions go in `design`.
ColumnLayout LayOutColumn(int versions, const WindowDesign& design);

}  // namespace zarvelo
