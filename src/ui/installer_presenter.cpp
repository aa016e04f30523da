#include "ui/installer_presenter.h"

#include <utility>

#include "detect/corel_scan.h"
#include "platform/decimal.h"
#include "resources/texts.h"
#include "ui/installer_layout.h"

namespace zarvelo {

InstallerPresenter::InstallerPresenter(InstallerView& view, WindowDesign design,
                                       const Environment& env, const FileSystem& fs,
                                       PluginInstaller& installer)
    : view_(view),
      design_(std::move(design)),
      env_(env), fs_(fs), installer_(installer) {}

std::wstring VersionLabel(const std::wstring& folderName) {
  // Splitting at every single space and taking the last piece is the text
  // after the last space; a trailing space gives an empty label.
  return folderName.substr(folderName.rfind(L' ') + 1);
}

void InstallerPresenter::ShowFoundVersions() {
  std::vector<std::wstring> names;
  std::vector<std::wstring> paths;
  DetectCorelVersions(env_, fs_, names, paths);
  const int count = static_cast<int>(names.size());
  const ColumnLayout layout = LayOutColumn(count, design_);

  if (count == 0) {
    view_.ShowInstallButtons({{texts::kNoVersionButton, L"", layout.buttons[0]}});
    view_.SetInstallButtonsEnabled(false);
    view_.SetStatus(texts::kNoVersionStatus);
    return;
  }

  std::vector<InstallButton> column;
  for (int k = 0; k < count; ++k)
    column.push_back({texts::kInstallToPrefix + VersionLabel(names[k]), names[k], layout.buttons[k]});
  const int shown = view_.ShowInstallButtons(column);
  targets_.assign(paths.begin(), paths.begin() + shown);

  // The window tells of the buttons it shows, as if only their versions had
  // been found.
  if (shown == 1) {
    view_.SetStatus(texts::kFoundOnePrefix + names[0]);
    return;
  }
  if (const auto height = LayOutColumn(shown, design_).windowHeight) view_.SetWindowHeight(*height);
  view_.SetStatus(texts::kFoundManyPrefix + Decimal(shown) + texts::kFoundManySuffix);
}

void InstallerPresenter::InstallRequested(int version) {
  if (version < 0 || version >= static_cast<int>(targets_.size())) return;
  // A press queued before the buttons were disabled must not start a second
  // attempt.
  if (!view_.InstallButtonsEnabled()) return;
  installer_.DownloadAndInstall(targets_[version]);
}

}  // namespace zarvelo
