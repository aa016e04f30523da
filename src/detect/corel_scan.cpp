#include "detect/corel_scan.h"

#include <algorithm>

namespace zarvelo {
namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

}  // namespace

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& fragment) {
  auto match = std::search(text.begin(), text.end(), fragment.begin(), fragment.end(),
                           [](wchar_t a, wchar_t b) { return FoldAscii(a) == FoldAscii(b); });
  return match != text.end() || fragment.empty();
}

void DetectCorelVersions(const Environment& env, const FileSystem& fs,
                         std::vector<std::wstring>& versionNames,
                         std::vector<std::wstring>& versionPaths) {
  versionNames.clear();
  versionPaths.clear();

  // An unset USERPROFILE gives a root below the current drive's root; it is
  // looked at like any other.
  const std::wstring root = env.EnvironVar(L"USERPROFILE") + L"\\AppData\\Roaming\\Corel";
  if (!fs.FolderExists(root)) return;

  const Result<Folder> corel = fs.GetFolder(root);
  if (!corel.ok()) return;

  // A failure part-way ends the walk quietly; what was found stays found.
  (void)fs.SubFolders(corel.value(), [&](const Folder& sub) {
    if (!ContainsIgnoringCase(sub.Name, L"CorelDRAW")) return;
    const std::wstring drawPath = sub.Path + L"\\Draw";
    if (!fs.FolderExists(drawPath)) return;
    versionNames.push_back(sub.Name);
    versionPaths.push_back(drawPath);
  });
}

}  // namespace zarvelo
