// Install attempts of the shipped installer under Wine, against the loopback
// HTTPS test server: what the user sees (status line, dialogs, buttons) and
// what lands on disk.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/system_library.h"
#include "resources/texts.h"
#include "windows/installer_session.h"
#include "windows/test_server.h"

namespace zarvelo::uitest {
namespace {

using testserver::ExpectedBody;
using testserver::SetMode;

const std::wstring k2020 = L"CorelDRAW Graphics Suite 2020";
const std::wstring kX8 = L"CorelDRAW Graphics Suite X8";
constexpr DWORD kAttemptTimeoutMs = 60000;

struct Outcome {
  std::wstring status;
  bool dialog = false;
  MessageBoxContent message;
  bool buttonsEnabledUnderDialog = true;
  bool buttonsEnabledAfter = false;
};

// Presses the button with `caption` and waits for the attempt to end; a
// failure's dialog is read and dismissed.
Outcome PressAndWait(InstallerSession& installer, const std::wstring& caption,
                     DWORD timeoutMs = kAttemptTimeoutMs) {
  Outcome outcome;
  const Control button = installer.Button(caption);
  EXPECT_TRUE(button.window) << "no button " << caption.size();
  Click(button.window);
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        dialog = installer.process().WaitForMessageBox(0);
        return dialog != nullptr || installer.Status() == texts::kInstalled;
      },
      timeoutMs);
  outcome.status = installer.Status();
  if (dialog) {
    outcome.dialog = true;
    outcome.message = ReadMessageBox(dialog);
    outcome.buttonsEnabledUnderDialog = installer.AnyButtonEnabled();
    DismissMessageBox(dialog);
    WaitUntil([&] { return installer.AllButtonsEnabled(); }, 5000);
  }
  outcome.buttonsEnabledAfter = installer.AnyButtonEnabled();
  return outcome;
}

// An older plug-in the attempt may replace.
bool PutOldPlugin(const TestProfile& profile, const std::wstring& version) {
  return MakeFolders(profile.gms(version)) && WriteBytes(profile.plugin(version), "old plug-in");
}

std::wstring DownloadFailed(long long code, const wchar_t* hint = L"请检查网络连接") {
  return L"下载失败！错误代码: " + std::to_wstring(code) + L"\r\n" + hint;
}

void ExpectInstalled(const Outcome& outcome, const TestProfile& profile, const std::wstring& version,
                     std::size_t size = testserver::kDefaultSize) {
  EXPECT_EQ(outcome.status, texts::kInstalled);
  EXPECT_FALSE(outcome.dialog) << outcome.message.text.size();
  EXPECT_FALSE(outcome.buttonsEnabledAfter);
  const std::optional<std::string> bytes = ReadBytes(profile.plugin(version));
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(*bytes == ExpectedBody(size)) << "installed " << bytes->size() << " bytes";
  EXPECT_FALSE(Exists(profile.download())) << "the downloaded file is left in TEMP";
  EXPECT_FALSE(Exists(profile.plugin(version) + L".download"));
}

TEST(InstallerInstall, ServerFaultsAreReportedAndLeaveTheOldPluginAlone) {
  struct Case {
    const char* mode;
    std::wstring status, message;
  } cases[] = {
      {"404", L"下载失败", DownloadFailed(-2146697211)},        // INET_E_RESOURCE_NOT_FOUND
      {"500", L"下载失败", DownloadFailed(-2146697208)},        // INET_E_DOWNLOAD_FAILURE
      {"truncated", L"下载失败", DownloadFailed(-2146697208)},  // INET_E_DOWNLOAD_FAILURE
      {"refuse", L"下载失败", DownloadFailed(-2146697212)},     // INET_E_CANNOT_CONNECT
      {"untrusted", L"下载失败", DownloadFailed(-2146697202)},  // INET_E_SECURITY_PROBLEM
      {"redirect-http", L"下载失败", DownloadFailed(-2146697196)},  // INET_E_REDIRECT_FAILED
      {"login", L"下载失败", DownloadFailed(-2146697208)},      // a captive portal's page
      // Bodies that cannot be the plug-in, refused before any file is made
      // or as soon as they show it.
      {"oversized", L"下载失败", DownloadFailed(-2146697208)},
      {"nolength", L"下载失败", DownloadFailed(-2146697208)},
      {"chunked-cut", L"下载失败", DownloadFailed(-2146697208)},
      {"206", L"下载失败", DownloadFailed(-2146697208)},
      {"gzip", L"下载失败", DownloadFailed(-2146697208)},
      {"empty", L"下载文件为空", L"下载失败：文件大小为 0"},
  };
  TestProfile profile({k2020, kX8});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(SetMode(c.mode));
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    EXPECT_EQ(outcome.status, c.status);
    ASSERT_TRUE(outcome.dialog);
    EXPECT_EQ(outcome.message.title, L"错误");
    EXPECT_EQ(outcome.message.text, c.message);
    EXPECT_FALSE(outcome.buttonsEnabledUnderDialog);
    EXPECT_TRUE(installer.AllButtonsEnabled()) << "a retry must be possible at once";
    const std::optional<std::string> old = ReadBytes(profile.plugin(k2020));
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, "old plug-in");
  }
  // The empty answer was the last: its empty download is gone too.
  EXPECT_FALSE(Exists(profile.download()));
}

// Windows looks for a DLL that is not on its known-DLL list beside the
// program first (usually Downloads); Wine does too when told to prefer
// native DLLs. Planted ones must neither stop the installer nor run.
TEST(InstallerInstall, DllsPlantedBesideTheInstallerAreNeverLoaded) {
  // Named as a browser names a second download. Wine reads a program's DLL
  // overrides from the registry under its file name (a child's
  // WINEDLLOVERRIDES is not read).
  const std::wstring name = L"Zarvelo _Plugin_for_cdr (1).exe";
  const std::wstring overrides = L"Software\\Wine\\AppDefaults\\" + name + L"\\DllOverrides";
  // Those the installer loads itself; on Windows 7 without the DLL-search
  // update also those Windows' own DLLs load by name.
  std::vector<std::wstring> dlls;
  const std::string names = ZARVELO_PLANTED_DLLS;
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = std::min(names.find(',', at), names.size());
    dlls.emplace_back(names.begin() + at, names.begin() + end);
    at = end + 1;
  }
  for (const std::wstring& dll : dlls) {
    const wchar_t nativeFirst[] = L"native,builtin";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), dll.c_str(), REG_SZ,
                                nativeFirst, sizeof nativeFirst),
              ERROR_SUCCESS);
  }
  struct Cleanup {
    std::wstring key;
    ~Cleanup() { ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
  } cleanup{L"Software\\Wine\\AppDefaults\\" + name};
  ScratchFolder downloads(L"zarvelo-downloads");
  const std::wstring exe = downloads.path() + L"\\" + name;
  ASSERT_TRUE(::CopyFileW(InstallerPath().c_str(), exe.c_str(), TRUE));
  const std::wstring planted = FromUnixPath(ZARVELO_PLANTED_DLLS_UNIX_PATH);
  for (std::wstring& dll : dlls) {
    dll += L".dll";
    ASSERT_TRUE(::CopyFileW((planted + L"\\" + dll).c_str(),
                            (downloads.path() + L"\\" + dll).c_str(), TRUE));
  }
  TestProfile profile({k2020});
  ASSERT_TRUE(SetMode("ok"));
  InstallerSession installer(profile, exe);
  ASSERT_TRUE(installer.window()) << "no window beside the planted DLLs";
  ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020);
  for (const std::wstring& dll : dlls)
    EXPECT_FALSE(Exists(downloads.path() + L"\\" + dll + L".loaded"))
        << "the planted " << std::string(dll.begin(), dll.end()) << " ran";
}

TEST(InstallerInstall, WithAKeyOnlyAPluginItSignedIsInstalled) {
  struct Case {
    const char* signature;
    long long code;
    int requests = 2;  // the plug-in, then its .sig as often as it was asked
    const wchar_t* hint = texts::kCheckSignature;
  } cases[] = {
      {"other", -2146869232},    // TRUST_E_BAD_DIGEST
      {"garbage", -2146869232},  // TRUST_E_BAD_DIGEST
      {"missing", -2146762496},  // TRUST_E_NOSIGNATURE
      // A busy server is not a missing signature: asked three times, then
      // INET_E_DOWNLOAD_FAILURE as for the plug-in.
      {"busy", -2146697208, 4, L"请检查网络连接"},
  };
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  InstallerSession installer(profile, InstallerWithTestKeyPath());
  ASSERT_TRUE(installer.window());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.signature);
    ASSERT_TRUE(SetMode("ok", testserver::kDefaultSize, c.signature));
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    EXPECT_EQ(outcome.status, L"下载失败");
    EXPECT_EQ(outcome.message.text, DownloadFailed(c.code, c.hint));
    EXPECT_FALSE(outcome.buttonsEnabledUnderDialog);
    EXPECT_TRUE(installer.AllButtonsEnabled());
    const std::optional<std::string> old = ReadBytes(profile.plugin(k2020));
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, "old plug-in");
    EXPECT_FALSE(Exists(profile.plugin(k2020) + L".download"));
    EXPECT_FALSE(Exists(profile.download() + L".sig"));
    EXPECT_FALSE(Exists(profile.download())) << "the unsigned download stays in TEMP";
    const testserver::Requests seen = testserver::ServerRequests();
    EXPECT_EQ(seen.count, c.requests) << seen.json;
    EXPECT_NE(seen.json.find("Zarvelo_CDRplugin.gip.sig"), std::string::npos) << seen.json;
  }
  ASSERT_TRUE(SetMode("ok", testserver::kDefaultSize, "good"));
  ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020);
  EXPECT_FALSE(Exists(profile.download() + L".sig"));
}

TEST(InstallerInstall, WithoutAKeyNoSignatureIsAskedFor) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("ok", testserver::kDefaultSize, "missing"));
  ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020);
  const testserver::Requests seen = testserver::ServerRequests();
  EXPECT_EQ(seen.count, 1) << seen.json;
  EXPECT_EQ(seen.json.find(".sig"), std::string::npos) << seen.json;
}

// The user's proxy settings as Internet Options keeps them (the binary
// DefaultConnectionSettings: flags, then the proxy, the bypass list and the
// script's address, each after its length) and WinHTTP's default as netsh
// keeps it (WinHttpSettings); removed again when it goes.
constexpr wchar_t kConnections[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
struct ProxySettingsInRegistry {
  static constexpr DWORD kManual = 2, kScript = 4, kDetect = 8;
  ProxySettingsInRegistry(DWORD flags, const std::string& proxy, const std::string& bypass,
                          const std::string& script, const std::string& winHttpProxy) {
    ok = Set(HKEY_CURRENT_USER, L"DefaultConnectionSettings", 0x46, 1 | flags,
             {proxy, bypass, script}) &&
         (winHttpProxy.empty() ||
          Set(HKEY_LOCAL_MACHINE, L"WinHttpSettings", 0x18, kManual, {winHttpProxy, ""}));
  }
  ~ProxySettingsInRegistry() {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings");
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kConnections, L"WinHttpSettings");
  }
  static bool Set(HKEY root, const wchar_t* name, DWORD magic, DWORD flags,
                  std::initializer_list<std::string> texts) {
    std::string blob;
    const auto put = [&blob](DWORD value) { blob.append(reinterpret_cast<char*>(&value), 4); };
    put(magic);
    put(0);
    put(flags);
    for (const std::string& text : texts) {
      put(static_cast<DWORD>(text.size()));
      blob += text;
    }
    blob.append(32, '\0');
    return ::RegSetKeyValueW(root, kConnections, name, REG_BINARY, blob.data(),
                             static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
  }
  bool ok = false;
};

// Corporate networks' proxies, against the test server's proxy on loopback;
// the installer downloads from a name that is not loopback's. The Windows 7
// path names the proxy when it opens its session. The normal one leaves the
// choice to WinHTTP (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY), which Wine 8
// takes as "no proxy": there every case goes direct, a proxy that is down
// included, where Windows would go through the proxy.
TEST(InstallerInstall, DownloadsGoThroughTheProxyTheSettingsName) {
  const std::string host = ZARVELO_NAMED_HOST;
  ADDRINFOW* found = nullptr;
  if (::GetAddrInfoW(std::wstring(host.begin(), host.end()).c_str(), L"47631", nullptr, &found))
    GTEST_SKIP() << host << " does not name 127.0.0.1 here (with_test_hosts.sh needs root)";
  ::FreeAddrInfoW(found);
  using Settings = ProxySettingsInRegistry;
  const std::string proxy = "127.0.0.1:47633";
  const bool named = win32::kEmulateWindows7;
  struct Case {
    const char* what;
    DWORD flags;
    std::string proxy, bypass, script, winHttpDefault;
    bool tunnel;
    long long code;
    bool http = false;  // the plain-HTTP installer, whose proxy asks for a logon
  } cases[] = {
      {"by hand", Settings::kManual, proxy, "", "", "", named, 0},
      {"script", Settings::kScript, "", "", "http://127.0.0.1:47632/proxy.pac", "", named, 0},
      {"detection finds nothing", Settings::kDetect, "", "", "", "", false, 0},
      {"WinHTTP's default", Settings::kDetect, "", "", "", proxy, named, 0},
      // INET_E_CANNOT_CONNECT, after three attempts.
      {"down", Settings::kManual, "127.0.0.1:47634", "", "", "", false, named ? -2146697212 : 0},
      // INET_E_RESOURCE_NOT_FOUND, as for a server's name.
      {"unknown", Settings::kManual, "proxy.zarvelo.test:8080", "", "", "", false,
       named ? -2146697211 : 0},
      {"bypassed", Settings::kManual, proxy, "<local>;" + host, "", "", false, 0},
      // The user's logon is offered once, then the 407 is a failure
      // (INET_E_DOWNLOAD_FAILURE). Only where the proxy is named.
      {"asks for a logon", Settings::kManual, proxy, "", "", "", false, -2146697208, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.http && !named) continue;
    Settings settings(c.flags, c.proxy, c.bypass, c.script, c.winHttpDefault);
    ASSERT_TRUE(settings.ok);
    TestProfile profile({k2020});
    InstallerSession installer(profile,
                               FromUnixPath(c.http ? ZARVELO_INSTALLER_BY_NAME_HTTP_UNIX_PATH
                                                   : ZARVELO_INSTALLER_BY_NAME_UNIX_PATH),
                               {{L"http_proxy", L""}});
    ASSERT_TRUE(installer.window());
    ASSERT_TRUE(SetMode("ok"));
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    if (c.code != 0) {
      EXPECT_EQ(outcome.message.text, DownloadFailed(c.code));
    } else {
      ExpectInstalled(outcome, profile, k2020);
    }
    const std::string asked = "\"asked http://" + host + ":47631/down/Zarvelo_CDRplugin.gip\"";
    const std::string tunnels = c.http     ? "\"tunnels\": [" + asked + ", " + asked
                                : c.tunnel ? "\"tunnels\": [\"" + host + ":47631\"]"
                                           : "\"tunnels\": []";
    const testserver::Requests seen = testserver::ServerRequests();
    EXPECT_NE(seen.json.find(tunnels), std::string::npos) << seen.json;
  }
}

TEST(InstallerInstall, KeyboardWorksAsInAnyDialog) {
  TestProfile profile({k2020, kX8});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("404"));
  const std::vector<Control> buttons = installer.Buttons();
  ASSERT_EQ(buttons.size(), 2u);
  ASSERT_TRUE(WaitUntil([&] { return installer.HasFocus(buttons[0].window); }, 3000));

  const auto key = [&](HWND target, WPARAM virtualKey) {
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    ::PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
  };
  key(buttons[0].window, VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return installer.HasFocus(buttons[1].window); }, 3000));

  for (WPARAM press : {WPARAM{VK_RETURN}, WPARAM{VK_SPACE}}) {
    SCOPED_TRACE(press);
    ASSERT_TRUE(installer.Focused());
    key(installer.Focused(), press);
    HWND dialog = installer.process().WaitForMessageBox(kAttemptTimeoutMs);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ReadMessageBox(dialog).text, DownloadFailed(-2146697211));
    DismissMessageBox(dialog);
    ASSERT_TRUE(WaitUntil([&] { return installer.AllButtonsEnabled(); }, 5000));
    // The keyboard is back on a button, ready for another try.
    EXPECT_TRUE(WaitUntil([&] { return installer.HasFocus(buttons[0].window) ||
                                       installer.HasFocus(buttons[1].window); }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return !installer.process().WaitForMessageBox(0); }, 3000));
  }
}

TEST(InstallerInstall, StalledTransferEndsAsADownloadFailure) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("stall"));
  const Outcome outcome = PressAndWait(installer, L"安装到 2020", 90000);
  EXPECT_EQ(outcome.status, L"下载失败");
  EXPECT_EQ(outcome.message.text, DownloadFailed(-2146697205));  // INET_E_CONNECTION_TIMEOUT
  EXPECT_TRUE(installer.AllButtonsEnabled());
}

TEST(InstallerInstall, SlowDownloadKeepsTheWindowAnsweringThenInstalls) {
  TestProfile profile({k2020, kX8});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("slow"));
  Click(installer.Button(L"安装到 X8").window);
  ASSERT_TRUE(installer.WaitForStatus(texts::kDownloading, 5000));
  EXPECT_FALSE(installer.AnyButtonEnabled());
  // While the bytes trickle in, the window still answers at once.
  int answered = 0;
  while (installer.Status() == texts::kDownloading && answered < 20) {
    DWORD_PTR ignored = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(installer.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                      &ignored));
    ++answered;
    ::Sleep(50);
  }
  EXPECT_GT(answered, 5);
  ASSERT_TRUE(installer.WaitForStatus(texts::kInstalled, kAttemptTimeoutMs));
  Outcome outcome;
  outcome.status = installer.Status();
  outcome.buttonsEnabledAfter = installer.AnyButtonEnabled();
  ExpectInstalled(outcome, profile, kX8);
  EXPECT_FALSE(Exists(profile.plugin(k2020)));
  const testserver::Requests seen = testserver::ServerRequests();
  EXPECT_EQ(seen.count, 1);
  EXPECT_NE(seen.json.find("no-cache"), std::string::npos) << "asked the cache: " << seen.json;
}

// A busy server is asked again; meanwhile nothing changes for the user and
// the window answers at once.
TEST(InstallerInstall, TransientFaultsAreRetriedWhileTheWindowAnswers) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("503?n=2"));
  Click(installer.Button(L"安装到 2020").window);
  ASSERT_TRUE(installer.WaitForStatus(texts::kDownloading, 5000));
  int answered = 0;
  while (testserver::ServerRequests().count < 3 && answered < 100) {
    EXPECT_EQ(installer.Status(), texts::kDownloading);
    DWORD_PTR ignored = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(installer.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100,
                                      &ignored));
    ++answered;
    ::Sleep(50);
  }
  ASSERT_TRUE(installer.WaitForStatus(texts::kInstalled, kAttemptTimeoutMs));
  EXPECT_EQ(testserver::ServerRequests().count, 3);
  EXPECT_GT(answered, 20);  // about 4 s of waits
  EXPECT_FALSE(installer.process().WaitForMessageBox(0));
}

TEST(InstallerInstall, ClosingWhileWaitingToRetryEndsTheProgramAtOnce) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("503?n=3&retry_after=10"));
  Click(installer.Button(L"安装到 2020").window);
  ASSERT_TRUE(WaitUntil([] { return testserver::ServerRequests().count == 1; }, 10000));
  ::Sleep(300);
  ::PostMessageW(installer.window(), WM_CLOSE, 0, 0);
  // Without a window manager (Xvfb alone) Wine waits 2 s for a hidden
  // window to be withdrawn before it destroys it, download or not; the 10 s
  // wait must not add to that.
  EXPECT_TRUE(installer.process().WaitForExit(4000));
  EXPECT_EQ(testserver::ServerRequests().count, 1);
  EXPECT_FALSE(Exists(profile.download()));
}

TEST(InstallerInstall, RetryAfterAFailureInstalls) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("404"));
  EXPECT_EQ(PressAndWait(installer, L"安装到 2020").status, L"下载失败");
  ASSERT_TRUE(SetMode("ok"));
  ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020);
}

TEST(InstallerInstall, ReplacesAReadOnlyHiddenOldPlugin) {
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  ::SetFileAttributesW(profile.plugin(k2020).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("ok"));
  ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020);
}

TEST(InstallerInstall, PluginHeldOpenByAnotherProgramIsKeptAndTheDialogSaysWhy) {
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("ok"));
  Outcome outcome;
  {
    // This test process plays CorelDRAW: it holds the plug-in open.
    win32::FileHandle held(::CreateFileW(profile.plugin(k2020).c_str(), GENERIC_READ, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    outcome = PressAndWait(installer, L"安装到 2020");
  }
  EXPECT_EQ(outcome.status, L"安装失败");
  // ERROR_SHARING_VIOLATION where the rename has POSIX semantics,
  // ERROR_ACCESS_DENIED where it has not (Windows 7, 8.1, Wine).
  const std::wstring text = L"安装失败！无法写入：\r\n" + profile.plugin(k2020) +
                            L"\r\n文件正被其他程序使用，请关闭 CorelDRAW 后重试。\r\n错误代码: ";
  EXPECT_TRUE(outcome.message.text == text + L"-2147024864" ||
              outcome.message.text == text + L"-2147024891")
      << outcome.message.text.size();
  EXPECT_TRUE(installer.AllButtonsEnabled());
  const std::optional<std::string> old = ReadBytes(profile.plugin(k2020));
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, "old plug-in");
  EXPECT_FALSE(Exists(profile.plugin(k2020) + L".download"));
  EXPECT_FALSE(Exists(profile.download()));
}

// A reader that lets others delete the plug-in (an indexer, a viewer) does
// not keep the new one out: replaced at once with POSIX renames, or once
// the old one is set aside where Windows (or Wine) has none.
TEST(InstallerInstall, PluginHeldByAReaderThatSharesDeleteIsReplaced) {
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  ::SetFileAttributesW(profile.plugin(k2020).c_str(), FILE_ATTRIBUTE_READONLY);
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("ok"));
  Outcome outcome;
  {
    win32::FileHandle reader(::CreateFileW(profile.plugin(k2020).c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    outcome = PressAndWait(installer, L"安装到 2020");
  }
  ExpectInstalled(outcome, profile, k2020);
  EXPECT_FALSE(Exists(profile.plugin(k2020) + L".old"));
}

// Presses 2020's button and waits for the download to end.
bool ReachFileStep(InstallerSession& installer) {
  if (!installer.window()) return false;
  Click(installer.Button(L"安装到 2020").window);
  return WaitUntil([&] { return installer.Status() != texts::kDownloading; }, kAttemptTimeoutMs);
}

// The installer ended by force at any moment of the file step: the
// plug-in's name holds the whole old plug-in or the whole new one, and the
// files the attempt made are gone with it or with the next install.
TEST(InstallerInstall, EndedAtAnyMomentTheNameHoldsAWholePlugin) {
  constexpr std::size_t kSize = 8000000;
  ASSERT_TRUE(SetMode("ok", kSize));
  const std::string whole = ExpectedBody(kSize);
  // How long the file step takes here, from its status to the end.
  DWORD stepMs = 0;
  {
    TestProfile profile({k2020});
    ASSERT_TRUE(PutOldPlugin(profile, k2020));
    InstallerSession installer(profile);
    ASSERT_TRUE(ReachFileStep(installer));
    const ULONGLONG begin = ::GetTickCount64();
    ASSERT_TRUE(installer.WaitForStatus(texts::kInstalled, kAttemptTimeoutMs));
    stepMs = static_cast<DWORD>(::GetTickCount64() - begin) + 1;
  }
  const unsigned randomInit = static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937 random(randomInit);
  for (int run = 0; run < 6; ++run) {
    const DWORD delayMs = std::uniform_int_distribution<DWORD>(0, stepMs)(random);
    SCOPED_TRACE(testing::Message() << "random init " << randomInit << ", ended " << delayMs
                                    << " ms of " << stepMs << " into the file step");
    TestProfile profile({k2020});
    ASSERT_TRUE(PutOldPlugin(profile, k2020));
    InstallerSession installer(profile);
    ASSERT_TRUE(ReachFileStep(installer));
    ::Sleep(delayMs);
    ASSERT_TRUE(::TerminateProcess(installer.process().handle(), 1));
    ASSERT_TRUE(installer.process().WaitForExit(10000));
    const std::optional<std::string> there = ReadBytes(profile.plugin(k2020));
    ASSERT_TRUE(there);
    EXPECT_TRUE(*there == "old plug-in" || *there == whole) << there->size() << " bytes";
    EXPECT_FALSE(Exists(profile.plugin(k2020) + L".old"));
    EXPECT_FALSE(Exists(profile.download())) << "the download is left in TEMP";
    if (Exists(profile.plugin(k2020) + L".download")) {
      // Ended between making the staged file and marking it for deletion,
      // or between unmarking it and its rename: no file system makes
      // either pair one step. The next install clears it.
      InstallerSession again(profile);
      ASSERT_TRUE(again.window());
      ExpectInstalled(PressAndWait(again, L"安装到 2020"), profile, k2020, kSize);
    }
  }
}

TEST(InstallerInstall, GmsThatIsAFileIsAnInstallFailure) {
  TestProfile profile({k2020});
  ASSERT_TRUE(WriteBytes(profile.gms(k2020), "not a folder"));
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("ok"));
  const Outcome outcome = PressAndWait(installer, L"安装到 2020");
  EXPECT_EQ(outcome.status, L"安装失败");
  EXPECT_EQ(outcome.message.text,
            L"安装失败！无法写入：\r\n" + profile.plugin(k2020) + L"\r\n错误代码: -2147024893");
  EXPECT_TRUE(installer.AllButtonsEnabled());
  const std::optional<std::string> file = ReadBytes(profile.gms(k2020));
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, "not a folder");
  EXPECT_FALSE(Exists(profile.download()));
}

TEST(InstallerInstall, WorksForAUserNameInAnyScript) {
  for (const std::wstring user : {L"Müller Ωmega Ñandú", L"Jürgen-Łukasz ĐŠ", L"Пользователь"}) {
    TestProfile profile({k2020}, user);
    InstallerSession installer(profile);
    ASSERT_TRUE(installer.window());
    ASSERT_TRUE(SetMode("ok", 5000));
    ExpectInstalled(PressAndWait(installer, L"安装到 2020"), profile, k2020, 5000);
  }
}

TEST(InstallerInstall, ClosingDuringADownloadEndsTheProgramAndInstallsNothing) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("slow", 2000000));
  Click(installer.Button(L"安装到 2020").window);
  ASSERT_TRUE(installer.WaitForStatus(texts::kDownloading, 5000));
  ::Sleep(500);  // part of the file has arrived
  ::PostMessageW(installer.window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(installer.process().WaitForExit(5000));
  EXPECT_FALSE(Exists(profile.plugin(k2020)));
  EXPECT_FALSE(Exists(profile.plugin(k2020) + L".download"));
  EXPECT_FALSE(Exists(profile.download())) << "the partial download is left in TEMP";
}

TEST(InstallerInstall, ClosingWhileTheServerStallsEndsTheProgramPromptly) {
  TestProfile profile({k2020});
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  ASSERT_TRUE(SetMode("stall"));
  Click(installer.Button(L"安装到 2020").window);
  ASSERT_TRUE(installer.WaitForStatus(texts::kDownloading, 5000));
  ::Sleep(1000);  // the first bytes are in the file, then nothing comes
  ::PostMessageW(installer.window(), WM_CLOSE, 0, 0);
  // Windows ends it within about a second; Wine takes a few seconds more to
  // end a process whose thread waits in a socket read. Either way it does
  // not wait for the stall limit (15 s in the test builds).
  EXPECT_TRUE(installer.process().WaitForExit(8000));
  EXPECT_FALSE(Exists(profile.download())) << "the partial download is left in TEMP";
  EXPECT_FALSE(Exists(profile.plugin(k2020)));
}

// Points the user's roaming folder (FOLDERID_RoamingAppData) elsewhere, as
// folder redirection does on domain PCs, and puts it back when it goes.
class RoamingRedirect {
 public:
  explicit RoamingRedirect(const std::wstring& folder) {
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) != ERROR_SUCCESS)
      return;
    DWORD size = 0;
    if (::RegQueryValueExW(key_, L"AppData", nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      old_.resize(size);
      had_ = ::RegQueryValueExW(key_, L"AppData", nullptr, &type_, old_.data(), &size) ==
             ERROR_SUCCESS;
      old_.resize(size);
    }
    set_ = ::RegSetValueExW(key_, L"AppData", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
  }
  ~RoamingRedirect() {
    if (!key_) return;
    if (had_) {
      ::RegSetValueExW(key_, L"AppData", 0, type_, old_.data(), static_cast<DWORD>(old_.size()));
    } else {
      ::RegDeleteValueW(key_, L"AppData");
    }
    ::RegCloseKey(key_);
  }
  RoamingRedirect(const RoamingRedirect&) = delete;
  RoamingRedirect& operator=(const RoamingRedirect&) = delete;
  bool set() const { return set_; }

 private:
  static constexpr wchar_t kUserShellFolders[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  HKEY key_ = nullptr;
  DWORD type_ = REG_EXPAND_SZ;
  std::vector<BYTE> old_;
  bool had_ = false, set_ = false;
};

std::vector<std::wstring> Captions(const InstallerSession& installer) {
  std::vector<std::wstring> captions;
  for (const Control& button : installer.Buttons()) captions.push_back(button.text);
  return captions;
}

TEST(InstallerInstall, FindsVersionsInARedirectedRoamingFolderAndInstallsThere) {
  const std::wstring k2022 = L"CorelDRAW Graphics Suite 2022";
  TestProfile profile({k2020});
  ScratchFolder share(L"zarvelo-share");  // stands in for \\server\profiles\张伟
  const std::wstring redirected = share.path() + L"\\Roaming";
  const std::wstring draw2022 = redirected + L"\\Corel\\" + k2022 + L"\\Draw";
  ASSERT_TRUE(MakeFolders(draw2022));
  std::wstring sameAsProfile = profile.user() + L"\\AppData\\Roaming";
  for (wchar_t& c : sameAsProfile)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');

  struct Case {
    std::wstring roaming;
    bool withProfile;
    std::vector<std::wstring> captions;
    std::wstring status;
  } cases[] = {
      {redirected, true, {L"安装到 2020", L"安装到 2022"}, L"检测到 2 个版本，请选择安装目标"},
      // Not redirected, in Windows' spelling: each version once.
      {sameAsProfile, true, {L"安装到 2020"}, L"检测到: " + k2020},
      {redirected, false, {L"安装到 2022"}, L"检测到: " + k2022},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.captions.size() * 2 + (c.withProfile ? 1 : 0));
    RoamingRedirect redirect(c.roaming);
    ASSERT_TRUE(redirect.set());
    std::map<std::wstring, std::wstring> environment;
    if (!c.withProfile) environment[L"USERPROFILE"] = L"";
    InstallerSession installer(profile, InstallerPath(), environment);
    ASSERT_TRUE(installer.window());
    EXPECT_EQ(Captions(installer), c.captions);
    EXPECT_EQ(installer.Status(), c.status);
    if (c.withProfile) continue;
    // Without USERPROFILE the button still carries the full path.
    ASSERT_TRUE(SetMode("ok"));
    const Outcome outcome = PressAndWait(installer, L"安装到 2022");
    EXPECT_EQ(outcome.status, texts::kInstalled);
    EXPECT_FALSE(outcome.dialog) << outcome.message.text.size();
    const std::optional<std::string> bytes = ReadBytes(draw2022 + L"\\GMS\\ZarveloVector.gms");
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(*bytes == ExpectedBody());
  }
}

// The scanner of tests/windows/test_scanner.cpp, watching `folder` until it
// goes.
class Scanner {
 public:
  Scanner(const std::wstring& folder, const std::wstring& log, DWORD holdMs) : log_(log) {
    if (!process_.Start(FromUnixPath(ZARVELO_SCANNER_UNIX_PATH), {},
                        L"\"" + folder + L"\" " + std::to_wstring(holdMs) + L" \"" + log + L"\""))
      return;
    ready_ = WaitUntil([&] { return Log().find("ready") != std::string::npos; }, 15000);
  }
  bool ready() const { return ready_; }
  std::string Log() const { return ReadBytes(log_).value_or(std::string()); }

 private:
  std::wstring log_;
  InstallerProcess process_;
  bool ready_ = false;
};

TEST(InstallerInstall, AScannerHoldingTheNewFileForAMomentOnlyDelaysTheInstall) {
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  InstallerSession installer(profile);
  ASSERT_TRUE(installer.window());
  // A larger file: the scanner has the staged file before the installer
  // is done checking it.
  constexpr std::size_t kSize = 4000000;
  ASSERT_TRUE(SetMode("ok", kSize));
  ScratchFolder logs(L"zarvelo-scanner");
  Scanner scanner(profile.gms(k2020), logs.path() + L"\\scanner.log", 1500);
  ASSERT_TRUE(scanner.ready());

  Click(installer.Button(L"安装到 2020").window);
  // While the installer waits for the scanner, the window answers at once.
  int slowAnswers = 0;
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutW(installer.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500,
                                   &ignored))
          ++slowAnswers;
        dialog = installer.process().WaitForMessageBox(0);
        return dialog != nullptr || installer.Status() == texts::kInstalled;
      },
      kAttemptTimeoutMs);
  EXPECT_EQ(slowAnswers, 0);
  Outcome outcome;
  outcome.status = installer.Status();
  if (dialog) {
    outcome.dialog = true;
    outcome.message = ReadMessageBox(dialog);
  }
  outcome.buttonsEnabledAfter = installer.AnyButtonEnabled();
  ExpectInstalled(outcome, profile, k2020, kSize);
  // Not of the new file, which the installer holds until it has its name.
  EXPECT_EQ(scanner.Log().find("held ZarveloVector.gms.download"), std::string::npos)
      << scanner.Log();
  EXPECT_FALSE(Exists(profile.plugin(k2020) + L".old"));
}

TEST(InstallerInstall, ASecondStartBringsTheFirstWindowBackAndEnds) {
  TestProfile profile({k2020});
  InstallerSession first(profile);
  ASSERT_TRUE(first.window());
  ::ShowWindow(first.window(), SW_MINIMIZE);
  ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(first.window()) != FALSE; }, 5000));

  InstallerProcess second;
  ASSERT_TRUE(second.Start(InstallerPath(),
                           {{L"USERPROFILE", profile.user()}, {L"TEMP", profile.temp()}}));
  bool secondWindow = false;
  EXPECT_TRUE(WaitUntil(
      [&] {
        secondWindow = secondWindow || second.WaitForWindow(0) != nullptr;
        return !second.Running();
      },
      20000));
  EXPECT_FALSE(secondWindow);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(second.handle(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(WaitUntil([&] { return !::IsIconic(first.window()) && ::IsWindowVisible(first.window()); },
                        5000));
  EXPECT_TRUE(first.process().Running());
  // The first one works as before.
  ASSERT_TRUE(SetMode("ok"));
  ExpectInstalled(PressAndWait(first, L"安装到 2020"), profile, k2020);
}

// A first copy that runs elevated holds a mutex a normal one may not open:
// it still counts as running, and without its window in sight (another
// desktop) the second copy ends quietly instead of working on the same
// files.
TEST(InstallerInstall, AnInstanceMutexItMayNotOpenCountsAsRunning) {
  SECURITY_DESCRIPTOR noAccess{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&noAccess, SECURITY_DESCRIPTOR_REVISION));
  ACL empty{};
  ASSERT_TRUE(::InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&noAccess, TRUE, &empty, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &noAccess, FALSE};
  const win32::KernelHandle held(
      ::CreateMutexW(&attributes, TRUE, L"Local\\ZarveloVectorPluginInstaller"));
  ASSERT_TRUE(held);
  TestProfile profile({k2020});
  InstallerProcess second;
  ASSERT_TRUE(second.Start(InstallerPath(),
                           {{L"USERPROFILE", profile.user()}, {L"TEMP", profile.temp()}}));
  EXPECT_FALSE(second.WaitForWindow(15000)) << "a second installer ran beside the first";
  EXPECT_TRUE(second.WaitForExit(5000));
  DWORD exitCode = 1;
  ::GetExitCodeProcess(second.handle(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
}

// The second line of a download failure names the disk when the file in
// TEMP failed; an install failure carries the code of the step that failed.
// The full disks are small tmpfs mounts the test fixture makes.
TEST(InstallerInstall, AFullOrMissingFolderIsNamedInTheDialog) {
  const std::wstring fullDisk = FromUnixPath(ZARVELO_FULL_DISK_UNIX_DIR);
  TestProfile profile({k2020});
  ASSERT_TRUE(PutOldPlugin(profile, k2020));
  ASSERT_TRUE(SetMode("ok"));
  {
    InstallerSession installer(profile, InstallerPath(),
                               {{L"TEMP", profile.temp() + L"\\没有的文件夹"}});
    ASSERT_TRUE(installer.window());
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    EXPECT_EQ(outcome.status, L"下载失败");
    // ERROR_PATH_NOT_FOUND
    EXPECT_EQ(outcome.message.text, L"下载失败！错误代码: -2147024893\r\n请检查临时文件夹");
  }
  if (!Exists(fullDisk + L"\\mounted")) {
    GTEST_SKIP() << "no full disk to try: "
                 << ReadBytes(fullDisk + L"\\unavailable").value_or("the fixture did not run");
  }
  {
    InstallerSession installer(profile, InstallerPath(), {{L"TEMP", fullDisk + L"\\temp"}});
    ASSERT_TRUE(installer.window());
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    EXPECT_EQ(outcome.status, L"下载失败");
    // ERROR_DISK_FULL
    EXPECT_EQ(outcome.message.text, L"下载失败！错误代码: -2147024784\r\n请检查磁盘空间");
    EXPECT_FALSE(Exists(fullDisk + L"\\temp\\Zarvelo_CDRplugin.gip"));
    EXPECT_EQ(ReadBytes(profile.plugin(k2020)).value_or(""), "old plug-in");
  }
  {
    // A profile whose GMS folder is on the full disk.
    const std::wstring gms =
        fullDisk + L"\\profile\\AppData\\Roaming\\Corel\\" + k2020 + L"\\Draw\\GMS";
    const std::wstring plugin = gms + L"\\ZarveloVector.gms";
    ASSERT_TRUE(WriteBytes(plugin, "old plug-in"));
    InstallerSession installer(profile, InstallerPath(),
                               {{L"USERPROFILE", fullDisk + L"\\profile"}});
    ASSERT_TRUE(installer.window());
    const Outcome outcome = PressAndWait(installer, L"安装到 2020");
    EXPECT_EQ(outcome.status, L"安装失败");
    EXPECT_EQ(outcome.message.text,
              L"安装失败！无法写入：\r\n" + plugin + L"\r\n错误代码: -2147024784");
    EXPECT_TRUE(installer.AllButtonsEnabled());
    EXPECT_EQ(ReadBytes(plugin).value_or(""), "old plug-in");
    EXPECT_FALSE(Exists(plugin + L".download"));
    EXPECT_FALSE(Exists(plugin + L".old"));
  }
}

}  // namespace
}  // namespace zarvelo::uitest
