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

// Whether `path` holds exactly the bytes received: a failure when not.
Status HoldsDownload(const FileSystem& fs, const std::wstring& path, const Sha256Digest& digest) {
  const Result<Sha256Digest> held = fs.FileSha256(path);
  if (!held.ok()) return held.status();
  return held.value() == digest ? Status::Ok() : Status(kErrorFileNotFound);
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
    FailDownload(download.result);
    return;
  }
  const Result<std::int64_t> length = fs_.FileSize(tempFile);
  if (!length.ok()) {
    // Reported as a download that did not arrive, with the file error.
    FailDownload(HResultFromWin32(length.status().error()));
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
                         [this, targetPath, tempFile, received](std::int32_t code) {
                           if (code != 0) FailDownload(code);
                           else Place(targetPath, tempFile, received);
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
PluginInstaller::Placed PluginInstaller::PlaceFiles(const std::wstring& targetPath,
                                                    const std::wstring& tempFile,
                                                    const Sha256Digest& received) {
  const std::wstring gmsFolder = targetPath + L"\\GMS";
  const std::wstring installedFile = gmsFolder + L"\\" + kPluginFileName;
  const std::wstring stagingFile = installedFile + kStagingSuffix;
  const auto retried = [this](const std::function<Status()>& step) {
    return RetryWhileHeld(worker_, step);
  };

  // Each step may fail; what counts is the check after them. The file in
  // TEMP is checked through its copy: whatever changed it since the
  // download does not get installed.
  if (!fs_.FolderExists(gmsFolder)) (void)fs_.CreateFolder(gmsFolder);
  Status replaced = retried([&] { return fs_.Copy(tempFile, stagingFile); });
  if (replaced.ok()) replaced = HoldsDownload(fs_, stagingFile, received);
  if (replaced.ok()) replaced = retried([&] { return fs_.MoveReplacing(stagingFile, installedFile); });
  if (!replaced.ok()) (void)retried([&] { return fs_.RemoveFile(stagingFile); });

  // Installed means the plug-in file now holds exactly what was received.
  Placed placed;
  placed.installedFile = installedFile;
  if (!HoldsDownload(fs_, installedFile, received).ok()) {
    // Only a plug-in that CorelDRAW (or anything else) holds open is worth
    // telling the user about; a scanner holding our own new file is not.
    placed.pluginInUse = IsHeld(replaced) && fs_.InUse(installedFile);
    return placed;
  }

  placed.installed = true;
  (void)retried([&] { return fs_.RemoveFile(tempFile); });
  return placed;
}

void PluginInstaller::Report(const Placed& placed) {
  if (!placed.installed) {
    std::wstring message = texts::kInstallFailedPrefix + (kCrLf + placed.installedFile);
    if (placed.pluginInUse) message += kCrLf + std::wstring(texts::kFileInUse);
    Fail(texts::kInstallFailedStatus, message);
    return;
  }
  view_.SetStatus(texts::kInstalled);
}

void PluginInstaller::FailDownload(std::int32_t code) {
  Fail(texts::kDownloadFailedStatus,
       texts::kDownloadFailedPrefix + Decimal(code) + kCrLf + texts::kCheckNetwork);
}

void PluginInstaller::Fail(const std::wstring& status, const std::wstring& message) {
  view_.SetStatus(status);
  view_.ShowError(message, texts::kErrorTitle);
  view_.SetInstallButtonsEnabled(true);
}

}  // namespace zarvelo
