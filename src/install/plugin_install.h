// One install attempt: download the plug-in into TEMP, place it into the
// chosen version's GMS folder, verify it and report.
#pragma once

#include <cstdint>
#include <functional>
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
// While the new plug-in is swapped in, the old one waits under this name,
// to be put back if the new one does not check out.
inline constexpr wchar_t kBackupSuffix[] = L".old";

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
               const DownloadResult& download);
  // What the file steps came to.
  struct Placed {
    std::wstring installedFile;
    bool installed = false;
    bool pluginInUse = false;  // the old plug-in is held open by another program
    // The first step that failed, as an HRESULT.
    std::int32_t code = 0;
  };

  // `received`: the SHA-256 of the bytes the download received.
  void Place(const std::wstring& targetPath, const std::wstring& tempFile,
             const Sha256Digest& received);
  Placed PlaceFiles(const std::wstring& targetPath, const std::wstring& tempFile,
                    const Sha256Digest& received);
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
};

}  // namespace zarvelo
