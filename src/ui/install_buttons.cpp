#include "ui/install_buttons.h"

#include "install/plugin_install.h"

namespace zarvelo {

void cmdDownloadInstall_Click(Form& form, PluginInstaller& installer, int index) {
  if (index < 0 || index > form.UBound()) return;
  CommandButton& button = form.cmdDownloadInstall(index);
  // A click queued before the buttons were disabled must not start a second
  // attempt.
  if (!button.Enabled()) return;
  installer.DownloadAndInstall(button.Tag());
}

void EnableInstallButtons(Form& form) {
  for (int k = 0; k <= form.UBound(); ++k) form.cmdDownloadInstall(k).SetEnabled(true);
}

void DisableInstallButtons(Form& form) {
  for (int k = 0; k <= form.UBound(); ++k) form.cmdDownloadInstall(k).SetEnabled(false);
}

}  // namespace zarvelo
