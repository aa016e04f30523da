#include "install/plugin_install.h"

#include <memory>
#include <utility>

#include "install/file_retry.h"
#include "install/plugin_signature.h"
#include "platform/decimal.h"
#include "resources/texts.h"

namespace zarvelo {
namespace {

constexpr wchar_t kCrLf[] = L"\r\n";

// How a failed file step shows in a dialog: as the download service shows
// a file error.
std::int32_t CodeOf(Status status) { return HResultFromWin32(status.error()); }

bool IsDiskFull(std::int32_t code) {
  return code == HResultFromWin32(kErrorDiskFull) || code == HResultFromWin32(kErrorHandleDiskFull);
}

}  // namespace

PluginInstaller::PluginInstaller(InstallerView& view, const Environment& env, FileSystem& fs,
                                 Downloader& net, Worker& worker, std::wstring downloadUrl,
                                 const SignatureVerifier* publisherKey)
    : view_(view),
      env_(env),
      fs_(fs),
      net_(net),
      worker_(worker),
      downloadUrl_(std::move(downloadUrl)),
      publisherKey_(publisherKey) {}

void PluginInstaller::DownloadAndInstall(const std::wstring& targetPath) {
  std::wstring tempFolder = env_.Variable(L"TEMP");
  // Without TEMP the file would land in the root of the current drive.
  if (tempFolder.empty()) tempFolder = env_.SystemTempFolder();
  const std::wstring tempFile = tempFolder + L"\\" + kTempFileName;

  view_.SetInstallButtonsEnabled(false);
  view_.SetStatus(texts::kDownloading);
  net_.Start(downloadUrl_, tempFile, [this, targetPath, tempFile](const DownloadResult& download) {
    Install(targetPath, tempFile, download);
  });
}

void PluginInstaller::Install(const std::wstring& targetPath, const std::wstring& requestedFile,
                              const DownloadResult& download) {
  const std::wstring tempFile = ReceivedFile(download, requestedFile);
  if (download.result != 0) {
    FailDownload(download.result, download.localFile);
    return;
  }
  const Result<std::int64_t> length = fs_.FileSize(tempFile);
  if (!length.ok()) {
    // Reported as a download that did not arrive, with the file error.
    FailDownload(CodeOf(length.status()), true);
    return;
  }
  if (length.value() == 0) {
    Fail(texts::kEmptyStatus, texts::kEmptyMessage);
    return;
  }
  if (publisherKey_ != nullptr) {
    // Nothing reaches GMS unless the vendor signed exactly these bytes.
    const Sha256Digest received = download.sha256;
    CheckPluginSignature(fs_, net_, *publisherKey_, downloadUrl_, tempFile, received,
                         [this, targetPath, tempFile, received](std::int32_t code, bool localFile) {
                           if (code == 0) {
                             Place(targetPath, tempFile, received);
                             return;
                           }
                           // Bytes the vendor did not sign are not kept.
                           (void)fs_.RemoveFile(tempFile);
                           FailDownload(code, localFile);
                         });
    return;
  }
  Place(targetPath, tempFile, download.sha256);
}

void PluginInstaller::Place(const std::wstring& targetPath, const std::wstring& tempFile,
                            const Sha256Digest& received) {
  view_.SetStatus(texts::kInstalling);
  // The file steps may wait for another program to let go of a file, so
  // they run off the user-interface thread; the outcome comes back to it.
  auto placed = std::make_shared<Placed>();
  worker_.Run(
      [this, targetPath, tempFile, received, placed] {
        *placed = PlaceFiles(targetPath, tempFile, received);
      },
      [this, placed] { Report(*placed); });
}

// On the worker: files only, no window.
//
// The new plug-in is copied into a staging file that is made new and held
// open, so no one else can write to it, from the copy's first byte until it
// has been renamed to the plug-in's name. Its digest is taken while the
// bytes are written, so the bytes checked are the bytes that land. The old
// plug-in is set aside first and put back when anything after that fails:
// a failed attempt never loses it.
PluginInstaller::Placed PluginInstaller::PlaceFiles(const std::wstring& targetPath,
                                                    const std::wstring& tempFile,
                                                    const Sha256Digest& received) {
  const std::wstring gmsFolder = targetPath + L"\\GMS";
  const std::wstring installedFile = gmsFolder + L"\\" + kPluginFileName;
  const std::wstring stagingFile = installedFile + kStagingSuffix;
  const std::wstring backupFile = installedFile + kBackupSuffix;
  const auto retried = [this](const std::function<Status()>& step) {
    return RetryWhileHeld(worker_, step);
  };
  // Closing the window ends a long copy at once; it is undone.
  const std::function<bool()> closing = [this] { return !worker_.Pause(0); };
  const auto exists = [this](const std::wstring& path) { return fs_.FileSize(path).ok(); };

  Placed placed;
  placed.installedFile = installedFile;
  // The first step that failed names the failure.
  const auto failed = [&placed](Status status) {
    if (!status.ok() && placed.code == 0) placed.code = CodeOf(status);
    return !status.ok();
  };

  // Made only where nothing of that name is: a file named GMS fails the
  // steps below, as no folder is there for them.
  if (!fs_.FolderExists(gmsFolder) && !exists(gmsFolder))
    (void)failed(fs_.CreateFolder(gmsFolder));
  // An attempt that ended in the middle of the swap left the old plug-in
  // aside: it goes back, or goes when the new one made it.
  if (exists(backupFile)) {
    if (!exists(installedFile)) (void)retried([&] { return fs_.Rename(backupFile, installedFile); });
    else (void)retried([&] { return fs_.Discard(backupFile); });
  }

  std::unique_ptr<StagedFile> staged;
  bool ok = !failed(retried([&] { return fs_.Stage(tempFile, stagingFile, closing, staged); }));
  // Whatever changed the file in TEMP since the download does not get in.
  if (ok && staged->Sha256() != received) {
    ok = false;
    if (placed.code == 0) placed.code = kTrustEBadDigest;
  }
  const bool hadPlugin = exists(installedFile);
  bool setAside = false;
  Status replaced;
  if (ok && hadPlugin) {
    replaced = retried([&] { return fs_.Rename(installedFile, backupFile); });
    setAside = replaced.ok();
    ok = !failed(replaced);
  }
  if (ok) ok = !failed(retried([&] { return staged->MoveTo(installedFile); }));
  // The plug-in's name now names the file that was checked: no second read.
  if (ok) ok = !failed(retried([&] { return staged->IsAt(installedFile); }));
  if (ok) ok = !failed(staged->Keep());
  staged.reset();  // deleted unless kept

  if (ok) {
    placed.installed = true;
    if (setAside) (void)retried([&] { return fs_.Discard(backupFile); });
  } else {
    if (setAside) (void)retried([&] { return fs_.Rename(backupFile, installedFile); });
    // The plug-in already there may be this very one (held open by
    // CorelDRAW, say): then it is installed.
    if (!setAside && hadPlugin) {
      const Result<Sha256Digest> there = fs_.FileSha256(installedFile);
      placed.installed = there.ok() && there.value() == received;
    }
    // Only a plug-in that CorelDRAW (or anything else) holds open is worth
    // telling the user about; a scanner holding our own new file is not.
    placed.pluginInUse = !placed.installed && IsHeld(replaced) && fs_.InUse(installedFile);
  }
  if (placed.installed) (void)retried([&] { return fs_.RemoveFile(tempFile); });
  return placed;
}

void PluginInstaller::Report(const Placed& placed) {
  if (!placed.installed) {
    std::wstring message = texts::kInstallFailedPrefix + (kCrLf + placed.installedFile);
    if (placed.pluginInUse) message += kCrLf + std::wstring(texts::kFileInUse);
    message += kCrLf + (texts::kErrorCodePrefix + Decimal(placed.code));
    Fail(texts::kInstallFailedStatus, message);
    return;
  }
  view_.SetStatus(texts::kInstalled);
}

void PluginInstaller::FailDownload(std::int32_t code, bool localFile) {
  // The second line says where to look: the network, or the disk TEMP is on.
  const wchar_t* hint = texts::kCheckNetwork;
  if (localFile) hint = IsDiskFull(code) ? texts::kCheckDiskSpace : texts::kCheckTempFolder;
  Fail(texts::kDownloadFailedStatus, texts::kDownloadFailedPrefix + Decimal(code) + kCrLf + hint);
}

void PluginInstaller::Fail(const std::wstring& status, const std::wstring& message) {
  view_.SetStatus(status);
  view_.ShowError(message, texts::kErrorTitle);
  view_.SetInstallButtonsEnabled(true);
}

}  // namespace zarvelo
