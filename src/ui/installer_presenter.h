// The installer window's logic: it shows the CorelDRAW versions found as
// install buttons and turns a press into an install attempt.
#pragma once

#include <string>
#include <vector>

#include "install/plugin_install.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/installer_view.h"

namespace zarvelo {

class InstallerPresenter {
 public:
  InstallerPresenter(InstallerView& view, WindowDesign design, const Environment& env,
                     const FileSystem& fs, PluginInstaller& installer);

  // Scans for CorelDRAW versions and shows them: the button column, the
  // status line and the window height.
  void ShowFoundVersions();

  // The user asked to install version `version` (its button's place in the
  // column).
  void InstallRequested(int version);

  // The Draw folders of the versions shown, in the column's order.
  const std::vector<std::wstring>& targets() const { return targets_; }

 private:
  InstallerView& view_;
  const WindowDesign design_;
  const Environment& env_;
  const FileSystem& fs_;
  PluginInstaller& installer_;
  std::vector<std::wstring> targets_;
};

// The last space-separated piece of a version folder's name: "2020" for
// "CorelDRAW Graphics Suite 2020".
std::wstring VersionLabel(const std::wstring& folderName);

}  // namespace zarvelo
