#pragma once

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file_system.h"

namespace zarvelo {

// Finds the CorelDRAW versions with a profile folder in the roaming Corel
// folders (CorelRoots). Entry i of versionNames is a folder name as stored;
// entry i of versionPaths is that folder's full path + "\Draw". A version
// folder reached through both roots is listed once. A version whose name is
// under both roots (a stale local copy beside a redirected roaming folder)
// is listed once too, in the place of the first, as it is under the roaming
// folder Windows knows.
// Never reports a failure: a failing scan yields what it found so far.
void DetectCorelVersions(const Environment& env, const FileSystem& fs,
                         std::vector<std::wstring>& versionNames,
                         std::vector<std::wstring>& versionPaths);

// The folders the scan looks in, in this order: the Corel folder below
// %USERPROFILE%\AppData\Roaming, then the one in the roaming folder Windows
// knows (which folder redirection may have moved). Only full paths: an unset
// USERPROFILE leaves just the second.
std::vector<std::wstring> CorelRoots(const Environment& env);

// True when `text` contains `fragment`, ignoring the case of ASCII letters.
bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& fragment);

}  // namespace zarvelo
