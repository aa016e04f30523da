// What the install buttons do.
#pragma once

#include "platform/form.h"

namespace zarvelo {

class PluginInstaller;

// Starts an install attempt into the target stored on the pressed button.
void cmdDownloadInstall_Click(Form& form, PluginInstaller& installer, int index);

// Makes every install button usable again after a failed attempt.
void EnableInstallButtons(Form& form);

// Keeps a second attempt from starting while one runs.
void DisableInstallButtons(Form& form);

}  // namespace zarvelo
