#pragma once

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file_system.h"

namespace zarvelo {

// Finds the CorelDRAW versions with a profile folder under
// %USERPROFILE%\AppData\Roaming\Corel. Entry i of versionNames is a folder
// name as stored; entry i of versionPaths is that folder's path + "\Draw".
// Never reports a failure: a failing scan yields what it found so far.
void DetectCorelVersions(const Environment& env, const FileSystem& fs,
                         std::vector<std::wstring>& versionNames,
                         std::vector<std::wstring>& versionPaths);

// True when `text` contains `fragment`, ignoring the case of ASCII letters.
bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& fragment);

}  // namespace zarvelo
