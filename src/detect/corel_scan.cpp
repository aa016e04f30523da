#include "detect/corel_scan.h"

#include <algorithm>

#include "platform/text.h"

namespace zarvelo {
namespace {

// A path that names its drive or server: "X:\..." or "\\server\...". Any
// other path would be looked for relative to the current drive or folder.
bool IsFullPath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
  return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& fragment) {
  auto match = std::search(text.begin(), text.end(), fragment.begin(), fragment.end(),
                           [](wchar_t a, wchar_t b) { return FoldAscii(a) == FoldAscii(b); });
  return match != text.end() || fragment.empty();
}

std::vector<std::wstring> CorelRoots(const Environment& env) {
  std::vector<std::wstring> roots;
  const std::wstring profile = env.Variable(L"USERPROFILE");
  if (!profile.empty()) roots.push_back(profile + L"\\AppData\\Roaming\\Corel");
  const Result<std::wstring> roaming = env.RoamingAppDataFolder();
  if (roaming.ok()) roots.push_back(roaming.value() + L"\\Corel");
  roots.erase(std::remove_if(roots.begin(), roots.end(),
                             [](const std::wstring& root) { return !IsFullPath(root); }),
              roots.end());
  return roots;
}

void DetectCorelVersions(const Environment& env, const FileSystem& fs,
                         std::vector<std::wstring>& versionNames,
                         std::vector<std::wstring>& versionPaths) {
  versionNames.clear();
  versionPaths.clear();

  const std::vector<std::wstring> roots = CorelRoots(env);
  for (const std::wstring& root : roots) {
    // The roaming folder Windows knows comes last; where it was redirected,
    // the local one is often a stale copy that CorelDRAW no longer reads.
    const bool knownFolder = &root == &roots.back() && roots.size() > 1;
    if (!fs.FolderExists(root)) continue;
    const Result<Folder> corel = fs.GetFolder(root);
    if (!corel.ok()) continue;

    // A failure part-way ends this root's walk quietly; what was found stays
    // found.
    (void)fs.SubFolders(corel.value(), [&](const Folder& sub) {
      if (!ContainsIgnoringCase(sub.Name, L"CorelDRAW")) return;
      const std::wstring drawPath = sub.Path + L"\\Draw";
      // Without redirection both roots are one folder: its versions count
      // once.
      const bool known = std::any_of(versionPaths.begin(), versionPaths.end(),
                                     [&](const std::wstring& p) { return fs.SameName(p, drawPath); });
      if (known || !fs.FolderExists(drawPath)) return;
      // A version in both: one button, installing where CorelDRAW looks.
      const auto sameName = std::find_if(
          versionNames.begin(), versionNames.end(),
          [&](const std::wstring& name) { return fs.SameName(name, sub.Name); });
      if (knownFolder && sameName != versionNames.end()) {
        const auto i = static_cast<std::size_t>(sameName - versionNames.begin());
        versionNames[i] = sub.Name;
        versionPaths[i] = drawPath;
        return;
      }
      versionNames.push_back(sub.Name);
      versionPaths.push_back(drawPath);
    });
  }
}

}  // namespace zarvelo
