// Start-up: create the installer window, show the versions the scan finds,
// and run it until the user closes it.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <optional>
#include <utility>

#include "build_config.h"
#include "install/plugin_install.h"
#include "payload_key.h"
#include "win32/background_threads.h"
#include "win32/cng/signature_verifier.h"
#include "win32/coverage.h"
#include "win32/download/win32_downloader.h"
#include "win32/dpi.h"
#include "win32/single_instance.h"
#include "win32/system_library.h"
#include "win32/win32_environment.h"
#include "win32/win32_file_system.h"
#include "win32/win32_form.h"
#include "win32/win32_worker.h"
#include "resources/resource.h"
#include "ui/installer_layout.h"
#include "ui/installer_presenter.h"

namespace zarvelo {
namespace {

// Clears the taskbar progress when a transfer ends, before the attempt
// reports its outcome.
class TaskbarDownloader : public Downloader {
 public:
  TaskbarDownloader(Downloader& inner, win32::Win32Form& form) : inner_(inner), form_(form) {}
  void Start(const std::wstring& url, const std::wstring& file, Done done) override {
    form_.SetProgress(0, 0);
    inner_.Start(url, file, [this, done = std::move(done)](DownloadResult download) {
      form_.ClearProgress();
      done(std::move(download));
    });
  }
  std::uint32_t LastHttpStatus() const override { return inner_.LastHttpStatus(); }

 private:
  Downloader& inner_;
  win32::Win32Form& form_;
};

// The key the build carried in (ZARVELO_PAYLOAD_PUBLIC_KEY), if any.
std::optional<win32::EcdsaP256PublicKey> PublisherKey() {
  constexpr char kPoint[] = ZARVELO_PAYLOAD_PUBLIC_KEY_XY;
  win32::EcdsaP256PublicKey::Point point{};
  static_assert(sizeof kPoint == 1 || sizeof kPoint == sizeof point + 1,
                "a publisher key is X and Y of 32 bytes each");
  if (sizeof kPoint == 1) return std::nullopt;
  for (std::size_t i = 0; i < point.size(); ++i) point[i] = static_cast<std::uint8_t>(kPoint[i]);
  return win32::EcdsaP256PublicKey(point);
}

class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (ok_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

int Run(HINSTANCE instance, int showCommand) {
  win32::SingleInstance instanceLock;
  if (!instanceLock.Claim(win32::kInstallerWindowClass)) return 0;
  win32::EnableDpiAwareness();
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  ComApartment com;

  win32::Win32Environment env;
  win32::Win32FileSystem fs;
  win32::Win32Form form;
  const WindowDesign design = InstallerDesign();
  const Status created = form.Create(instance, design, IDI_APP);
  if (!created.ok()) return static_cast<int>(created.error());

  std::shared_ptr<win32::UiQueue> queue = form.queue();
  const auto post = [queue](std::function<void()> task) { queue->Post(std::move(task)); };
  win32::BackgroundThreads background;
  win32::Win32Downloader net(
      background, post,
      [&form](std::uint64_t received, std::uint64_t total) { form.SetProgress(received, total); });
  // Only the publisher's signature needs the digest of the bytes received.
  const std::optional<win32::EcdsaP256PublicKey> publisherKey = PublisherKey();
  net.HashBytes(publisherKey.has_value());
  TaskbarDownloader reportingNet(net, form);
  win32::Win32Worker worker(background, post);
  PluginInstaller installer(form, env, fs, reportingNet, worker, ZARVELO_DOWNLOAD_URL,
                            publisherKey ? &*publisherKey : nullptr);
  InstallerPresenter presenter(form, design, env, fs, installer);
  form.OnInstallRequested([&presenter](int version) { presenter.InstallRequested(version); });

  presenter.ShowFoundVersions();
  form.Show(showCommand);
  const int exitCode = form.RunMessageLoop();

  // Closing the window during a download cancels it. A transfer stuck in a
  // call that does not notice (a silent server) is not waited for: the
  // process ends without the DLL clean-up that would wait for that call, and
  // the system deletes the partial file with it. File steps waiting for a
  // scanner stop waiting and end at once.
  background.Cancel();
  if (!background.WaitIdle(1000)) {
    win32::WriteCoverageCounters();
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
  }
  return exitCode;
}

}  // namespace
}  // namespace zarvelo

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Before anything can load a DLL: none from the installer's own folder.
  zarvelo::win32::RestrictDllSearchToSystem32();
  return zarvelo::Run(instance, showCommand);
}
