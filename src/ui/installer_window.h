// frmInstaller: the installer's one window, its design and its load handler.
#pragma once

#include <string>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/form.h"

namespace zarvelo {

// Control identifiers; button element k has kCmdDownloadInstallId + k.
inline constexpr int kLblInfoId = 1001;
inline constexpr int kLblDetailId = 1002;
inline constexpr int kLabel1Id = 1003;
inline constexpr int kCmdDownloadInstallId = 1100;

// The window as designed, before Form_Load adapts it.
FormDesign InstallerDesign();

// Scans for CorelDRAW versions and turns them into the button column, the
// status line and the window height.
void Form_Load(Form& form, const Environment& env, const FileSystem& fs);

// The last space-separated piece of a version folder's name: "2020" for
// "CorelDRAW Graphics Suite 2020".
std::wstring VersionLabel(const std::wstring& folderName);

}  // namespace zarvelo
