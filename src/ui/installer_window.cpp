#include "ui/installer_window.h"

#include <vector>

#include "detect/corel_scan.h"
#include "platform/decimal.h"
#include "resources/texts.h"

namespace zarvelo {

FormDesign InstallerDesign() {
  constexpr int kGb2312Charset = 134;
  const FontSpec defaultFont;
  const FontSpec infoFont{texts::kInfoFontFace, 10.5f, 400, kGb2312Charset};

  FormDesign design;
  design.Title = texts::kTitle;
  design.ClientWidth = 4350;
  design.ClientHeight = 4035;
  design.Controls = {
      {kLblInfoId, ControlKind::Label, {240, 120, 3855, 1095}, texts::kInfo, infoFont},
      {kLblDetailId, ControlKind::Label, {120, 2400, 3975, 375}, L"", defaultFont},
      {kCmdDownloadInstallId, ControlKind::CommandButton, {1200, 3000, 1815, 375},
       texts::kTemplateButton, defaultFont},
      {kLabel1Id, ControlKind::Label, {240, 1320, 3975, 495}, texts::kWebsite, defaultFont},
  };
  design.StatusLabelId = kLblDetailId;
  return design;
}

std::wstring VersionLabel(const std::wstring& folderName) {
  // Splitting at every single space and taking the last piece is the text
  // after the last space; a trailing space gives an empty label.
  return folderName.substr(folderName.rfind(L' ') + 1);
}

void Form_Load(Form& form, const Environment& env, const FileSystem& fs) {
  const TwipRect template0 = form.cmdDownloadInstall(0).Bounds();
  const float top0 = template0.Top;
  const float left0 = template0.Left;
  const float width0 = template0.Width;
  const float height0 = template0.Height;
  const float step = height0 + 120;

  std::vector<std::wstring> versionNames;
  std::vector<std::wstring> versionPaths;
  DetectCorelVersions(env, fs, versionNames, versionPaths);
  const int count = static_cast<int>(versionNames.size());

  if (count == 0) {
    CommandButton& button = form.cmdDownloadInstall(0);
    button.SetCaption(texts::kNoVersionButton);
    button.SetEnabled(false);
    form.SetDetail(texts::kNoVersionStatus);
    return;
  }

  if (count == 1) {
    CommandButton& button = form.cmdDownloadInstall(0);
    button.SetCaption(texts::kInstallToPrefix + VersionLabel(versionNames[0]));
    button.SetTag(versionPaths[0]);
    button.SetEnabled(true);
    button.SetVisible(true);
    button.SetToolTip(versionNames[0]);
    form.SetDetail(texts::kFoundOnePrefix + versionNames[0]);
    return;
  }

  int shown = 0;
  for (int k = 0; k < count; ++k) {
    // A button that cannot be created ends the column there; the ones
    // before it work as usual.
    if (k > 0 && !form.LoadButton(k).ok()) break;
    CommandButton& button = form.cmdDownloadInstall(k);
    button.SetVisible(true);
    button.SetBounds({left0, static_cast<float>(k) * step + top0, width0, height0});
    button.SetCaption(texts::kInstallToPrefix + VersionLabel(versionNames[k]));
    button.SetTag(versionPaths[k]);
    button.SetEnabled(true);
    button.SetToolTip(versionNames[k]);
    ++shown;
  }
  // The window tells of the buttons it shows, as if only their versions had
  // been found.
  if (shown == 1) {
    form.SetDetail(texts::kFoundOnePrefix + versionNames[0]);
    return;
  }
  form.SetHeight(static_cast<float>(shown) * step + top0 + 800);
  form.SetDetail(texts::kFoundManyPrefix + Decimal(shown) + texts::kFoundManySuffix);
}

}  // namespace zarvelo
