// One install attempt: download the plug-in into TEMP, place it into the
// chosen version's GMS folder, verify it and report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/downloader.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/installer_view.h"
#include "platform/signature.h"
#include "platform/worker.h"

namespace zarvelo {

inline constexpr wchar_t kTempFileName[] = L"Zarvelo_CDRplugin.gip";
inline constexpr wchar_t kPluginFileName[] = L"ZarveloVector.gms";
// The new plug-in is written under this name beside the old one and only
// then swapped in, so a failed attempt never costs the user a working
// plug-in.
inline constexpr wchar_t kStagingSuffix[] = L".download";
// Where the new plug-in cannot simply replace the old one (a reader that
// shares delete holds it, on Windows before 10), the old one is set aside
// under this name, or this name and a digit, for the moment of the swap.
// Earlier installers used it too.
inline constexpr wchar_t kAsideSuffix[] = L".old";

class PluginInstaller {
 public:
  // With a `publisherKey`, only a plug-in that key signed is installed;
  // without one no signature is asked for.
  PluginInstaller(InstallerView& view, const Environment& env, FileSystem& fs, Downloader& net,
                  Worker& worker, std::wstring downloadUrl,
                  const SignatureVerifier* publisherKey = nullptr);

  // Runs one attempt for `targetPath` (a version's Draw folder). Returns once
  // the download has started; the attempt ends on the user-interface thread
  // after the download and then the file steps on the worker.
  void DownloadAndInstall(const std::wstring& targetPath);

 private:
  void Install(const std::wstring& targetPath, const std::wstring& tempFile,
               DownloadResult download);
  // What the file steps came to.
  struct Placed {
    std::wstring installedFile;
    bool installed = false;
    bool pluginInUse = false;  // the old plug-in is held open by another program
    bool readFailed = false;   // the download in TEMP could not be read
    // The first step that failed, as an HRESULT.
    std::int32_t code = 0;
  };

  void Place(const std::wstring& targetPath);
  Placed PlaceFiles(const std::wstring& targetPath);
  void Report(const Placed& placed);
  // "下载失败" with the download's result code; `localFile`: the file in
  // TEMP failed, not the network.
  void FailDownload(std::int32_t code, bool localFile = false);
  void Fail(const std::wstring& status, const std::wstring& message);

  InstallerView& view_;
  const Environment& env_;
  FileSystem& fs_;
  Downloader& net_;
  Worker& worker_;
  std::wstring downloadUrl_;
  const SignatureVerifier* publisherKey_;
  // The attempt's download, held from its first byte until the attempt
  // ends, and deleted then.
  std::shared_ptr<HeldFile> download_;
};

}  // namespace zarvelo
