#include "install/plugin_install.h"

#include <utility>

#include "install/plugin_signature.h"
#include "platform/decimal.h"
#include "resources/texts.h"
#include "ui/install_buttons.h"

namespace zarvelo {
namespace {

constexpr wchar_t kCrLf[] = L"\r\n";

bool IsInUse(Status status) {
  return status.error() == kErrorSharingViolation || status.error() == kErrorLockViolation;
}

}  // namespace

PluginInstaller::PluginInstaller(Form& form, const Environment& env, FileSystem& fs,
                                 Downloader& net, std::wstring downloadUrl,
                                 const SignatureVerifier* publisherKey)
    : form_(form),
      env_(env),
      fs_(fs),
      net_(net),
      downloadUrl_(std::move(downloadUrl)),
      publisherKey_(publisherKey) {}

void PluginInstaller::DownloadAndInstall(const std::wstring& targetPath) {
  std::wstring tempFolder = env_.EnvironVar(L"TEMP");
  // Without TEMP the file would land in the root of the current drive.
  if (tempFolder.empty()) tempFolder = env_.SystemTempFolder();
  const std::wstring tempFile = tempFolder + L"\\" + kTempFileName;

  DisableInstallButtons(form_);
  form_.SetDetail(texts::kDownloading);
  net_.Start(downloadUrl_, tempFile, [this, targetPath, tempFile](std::int32_t result) {
    Install(targetPath, tempFile, result);
  });
}

void PluginInstaller::Install(const std::wstring& targetPath, const std::wstring& tempFile,
                              std::int32_t result) {
  if (result != 0) {
    Fail(texts::kDownloadFailedStatus,
         texts::kDownloadFailedPrefix + Decimal(result) + kCrLf + texts::kCheckNetwork);
    return;
  }
  const Result<std::int64_t> length = fs_.FileLen(tempFile);
  if (!length.ok()) {
    // Reported as a download that did not arrive, with the file error.
    const std::int32_t code = HResultFromWin32(length.status().error());
    Fail(texts::kDownloadFailedStatus,
         texts::kDownloadFailedPrefix + Decimal(code) + kCrLf + texts::kCheckNetwork);
    return;
  }
  if (length.value() == 0) {
    Fail(texts::kEmptyStatus, texts::kEmptyMessage);
    return;
  }
  if (publisherKey_ != nullptr) {
    // Nothing reaches GMS unless the vendor signed exactly these bytes.
    CheckPluginSignature(fs_, net_, *publisherKey_, downloadUrl_, tempFile,
                         [this, targetPath, tempFile](std::int32_t code) {
                           if (code != 0) {
                             Fail(texts::kDownloadFailedStatus, texts::kDownloadFailedPrefix +
                                                                    Decimal(code) + kCrLf +
                                                                    texts::kCheckNetwork);
                             return;
                           }
                           Place(targetPath, tempFile);
                         });
    return;
  }
  Place(targetPath, tempFile);
}

void PluginInstaller::Place(const std::wstring& targetPath, const std::wstring& tempFile) {
  form_.SetDetail(texts::kInstalling);
  const std::wstring gmsFolder = targetPath + L"\\GMS";
  const std::wstring installedFile = gmsFolder + L"\\" + kPluginFileName;
  const std::wstring stagingFile = installedFile + kStagingSuffix;

  // Each step may fail; what counts is the check after them.
  if (fs_.Dir(gmsFolder, kVbDirectory).empty()) (void)fs_.MakeDir(gmsFolder);
  Status replaced = fs_.FileCopy(tempFile, stagingFile);
  if (replaced.ok()) {
    const Result<bool> staged = fs_.FilesEqual(tempFile, stagingFile);
    if (!staged.ok()) replaced = staged.status();
    else if (!staged.value()) replaced = Status(kErrorFileNotFound);
  }
  if (replaced.ok()) replaced = fs_.MoveReplacing(stagingFile, installedFile);
  if (!replaced.ok()) (void)fs_.KillFile(stagingFile);

  // Installed means the plug-in file now holds exactly what was downloaded.
  const Result<bool> same = fs_.FilesEqual(tempFile, installedFile);
  if (!same.ok() || !same.value()) {
    std::wstring message = texts::kInstallFailedPrefix + (kCrLf + installedFile);
    if (IsInUse(replaced)) message += kCrLf + std::wstring(texts::kFileInUse);
    Fail(texts::kInstallFailedStatus, message);
    return;
  }

  (void)fs_.KillFile(tempFile);
  form_.SetDetail(texts::kInstalled);
}

void PluginInstaller::Fail(const std::wstring& status, const std::wstring& message) {
  form_.SetDetail(status);
  form_.MsgBox(message, texts::kErrorTitle);
  EnableInstallButtons(form_);
}

}  // namespace zarvelo
