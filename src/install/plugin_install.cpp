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
  return code == HResultFromWin32(kErrorDiskFull) ||
         code == HResultFromWin32(kErrorHandleDiskFull) ||
         code == HResultFromWin32(kErrorDiskQuotaExceeded);
}

bool IsQuarantined(std::int32_t code) {
  return code == HResultFromWin32(kErrorVirusInfected) ||
         code == HResultFromWin32(kErrorVirusDeleted);
}

// How many names the old plug-in may be set aside under.
constexpr int kAsideNames = 4;

// ZarveloVector.gms.old, then .old1 and so on: a name that one still held
// (a reader that shares delete keeps a deleted file's name until it lets
// go) does not stand in the way.
std::wstring AsideName(const std::wstring& installedFile, int n) {
  std::wstring aside = installedFile + kAsideSuffix;
  if (n > 0) aside += static_cast<wchar_t>(L'0' + n);
  return aside;
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
  net_.Start(downloadUrl_, tempFile, [this, targetPath, tempFile](DownloadResult download) {
    Install(targetPath, tempFile, std::move(download));
  });
}

void PluginInstaller::Install(const std::wstring& targetPath, const std::wstring& tempFile,
                              DownloadResult download) {
  if (download.result != 0) {
    FailDownload(download.result, download.localFile);
    return;
  }
  if (!download.file) {
    // Reported as a download that did not arrive.
    FailDownload(HResultFromWin32(kErrorFileNotFound), true);
    return;
  }
  download_ = std::move(download.file);
  if (download_->Size() == 0) {
    Fail(texts::kEmptyStatus, texts::kEmptyMessage);
    return;
  }
  if (publisherKey_ != nullptr) {
    // Nothing reaches GMS unless the vendor signed exactly these bytes; no
    // one can change them while the download is held.
    CheckPluginSignature(fs_, net_, *publisherKey_, downloadUrl_, tempFile, download.sha256,
                         [this, targetPath](std::int32_t code, bool localFile) {
                           if (code == 0) {
                             Place(targetPath);
                             return;
                           }
                           FailDownload(code, localFile);
                         });
    return;
  }
  Place(targetPath);
}

void PluginInstaller::Place(const std::wstring& targetPath) {
  view_.SetStatus(texts::kInstalling);
  // The file steps may wait for another program to let go of a file, so
  // they run off the user-interface thread; the outcome comes back to it.
  auto placed = std::make_shared<Placed>();
  worker_.Run([this, targetPath, placed] { *placed = PlaceFiles(targetPath); },
              [this, placed] { Report(*placed); });
}

// On the worker: files only, no window.
//
// The download is copied into a staging file beside the plug-in that is
// made new and held open, so no one else can write to it, until it replaces
// the plug-in in one rename: the plug-in's name holds the whole old plug-in
// or the whole new one at every moment. The download itself is held since
// its first byte, so the bytes copied are the bytes received.
PluginInstaller::Placed PluginInstaller::PlaceFiles(const std::wstring& targetPath) {
  const std::wstring gmsFolder = targetPath + L"\\GMS";
  const std::wstring installedFile = gmsFolder + L"\\" + kPluginFileName;
  const std::wstring stagingFile = installedFile + kStagingSuffix;
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
  // An attempt (of this installer or an earlier one) that ended in the
  // middle of a swap left the old plug-in aside: it goes back, or goes when
  // the new one made it. One that cannot go yet is left for next time.
  for (int n = 0; n < kAsideNames; ++n) {
    const std::wstring aside = AsideName(installedFile, n);
    if (!exists(aside)) continue;
    if (!exists(installedFile)) (void)fs_.Rename(aside, installedFile);
    else (void)fs_.Discard(aside);
  }

  std::unique_ptr<StagedFile> staged;
  const Status copied = retried(
      [&] { return fs_.Stage(*download_, stagingFile, closing, staged, placed.readFailed); });
  if (failed(copied)) return placed;
  const auto replace = [&] {
    Status status = staged->Replace(installedFile);
    // Refused because a reader that shares delete holds the old plug-in
    // (Windows without POSIX renames): it is set aside for the moment of
    // the swap. Should the new one still not get in, the old one goes back,
    // even while the program closes.
    if (status.error() != kErrorAccessDenied || !exists(installedFile) ||
        fs_.InUse(installedFile))
      return status;
    for (int n = 0; n < kAsideNames; ++n) {
      const std::wstring aside = AsideName(installedFile, n);
      if (!fs_.Rename(installedFile, aside).ok()) continue;
      status = staged->Replace(installedFile);
      if (status.ok()) (void)fs_.Discard(aside);
      else (void)RetryUntilClosed(worker_, [&] { return fs_.Rename(aside, installedFile); });
      break;
    }
    return status;
  };
  const Status replaced = retried(replace);
  if (!failed(replaced)) {
    placed.installed = true;
    return placed;
  }
  if (IsHeld(replaced)) {
    // The plug-in held there (by CorelDRAW, say) may be this very one:
    // then it is installed.
    const Result<Sha256Digest> there = fs_.FileSha256(installedFile);
    const Result<Sha256Digest> ours = staged->Sha256();
    placed.installed = there.ok() && ours.ok() && there.value() == ours.value();
    // Only a plug-in that CorelDRAW (or anything else) holds open is worth
    // telling the user about; a scanner holding our own new file is not.
    placed.pluginInUse = !placed.installed && fs_.InUse(installedFile);
  }
  return placed;  // the staged file goes with `staged`
}

void PluginInstaller::Report(const Placed& placed) {
  if (placed.readFailed) {
    FailDownload(placed.code, true);
    return;
  }
  if (!placed.installed) {
    std::wstring message = texts::kInstallFailedPrefix + (kCrLf + placed.installedFile);
    if (placed.pluginInUse) message += kCrLf + std::wstring(texts::kFileInUse);
    message += kCrLf + (texts::kErrorCodePrefix + Decimal(placed.code));
    Fail(texts::kInstallFailedStatus, message);
    return;
  }
  download_.reset();
  view_.SetStatus(texts::kInstalled);
}

void PluginInstaller::FailDownload(std::int32_t code, bool localFile) {
  // The second line says where to look: the network, the disk TEMP is on,
  // the security software, or the plug-in's signature.
  const wchar_t* hint = texts::kCheckNetwork;
  if (code == kTrustENoSignature || code == kTrustEBadDigest) hint = texts::kCheckSignature;
  else if (IsQuarantined(code)) hint = texts::kCheckSecuritySoftware;
  else if (localFile) hint = IsDiskFull(code) ? texts::kCheckDiskSpace : texts::kCheckTempFolder;
  Fail(texts::kDownloadFailedStatus, texts::kDownloadFailedPrefix + Decimal(code) + kCrLf + hint);
}

void PluginInstaller::Fail(const std::wstring& status, const std::wstring& message) {
  // Whatever the attempt downloaded goes before the dialog waits for the user.
  download_.reset();
  view_.SetStatus(status);
  view_.ShowError(message, texts::kErrorTitle);
  view_.SetInstallButtonsEnabled(true);
}

}  // namespace zarvelo
