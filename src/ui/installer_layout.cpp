#include "ui/installer_layout.h"

#include "resources/texts.h"

namespace zarvelo {

WindowDesign InstallerDesign() {
  constexpr int kGb2312Charset = 134;
  const FontSpec defaultFont;
  const FontSpec infoFont{texts::kInfoFontFace, 10.5f, 400, kGb2312Charset};

  WindowDesign design;
  design.title = texts::kTitle;
  design.clientWidth = 4350;
  design.clientHeight = 4035;
  design.controls = {
      {kInfoTextId, ControlKind::Label, {240, 120, 3855, 1095}, texts::kInfo, infoFont},
      {kStatusLineId, ControlKind::Label, {120, 2400, 3975, 375}, L"", defaultFont},
      {kFirstInstallButtonId, ControlKind::InstallButton, {1200, 3000, 1815, 375},
       texts::kTemplateButton, defaultFont},
      {kWebsiteTextId, ControlKind::Label, {240, 1320, 3975, 495}, texts::kWebsite, defaultFont},
  };
  design.statusLineId = kStatusLineId;
  return design;
}

ColumnLayout LayOutColumn(int versions, const WindowDesign& design) {
  constexpr Twips kGap = 120;          // between two buttons
  constexpr Twips kBelowColumn = 800;  // title bar and borders included
  TwipRect first;
  for (const ControlDesign& control : design.controls)
    if (control.kind == ControlKind::InstallButton) first = control.bounds;

  ColumnLayout layout;
  const Twips step = first.height + kGap;
  const int count = versions < 1 ? 1 : versions;
  for (int k = 0; k < count; ++k)
    layout.buttons.push_back({first.left, first.top + k * step, first.width, first.height});
  if (versions >= 2) layout.windowHeight = versions * step + first.top + kBelowColumn;
  return layout;
}

}  // namespace zarvelo
