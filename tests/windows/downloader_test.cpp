// The WinHTTP download service against the loopback test server
// (tests/server/plugin_server.py), which ctest starts before these tests.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "win32/background_threads.h"
#include "win32/cng/sha256.h"
#include "win32/download/win32_downloader.h"
#include "win32/download/winhttp_errors.h"
#include "win32/long_path.h"
#include "win32/win32_file_system.h"
#include "windows/test_files.h"
#include "windows/test_server.h"

namespace zarvelo::win32 {
namespace {

constexpr wchar_t kUrl[] = L"https://127.0.0.1:47631/down/Zarvelo_CDRplugin.gip";
constexpr DWORD kStallMs = 2000;
// The table's downloads: an attempt ends after 5 s, a body after 2 MB.
constexpr DWORD kDeadlineMs = 5000;
constexpr std::uint64_t kMaxBytes = 2000000;
constexpr DWORD kDownloadLimitMs = 30000;

using testserver::ExpectedBody;
using testserver::kControlPort;
using testserver::kDefaultSize;
using testserver::Requests;
using testserver::ServerRequests;
using testserver::SetMode;

using testfiles::Exists;
using testfiles::ReadBytes;
using testfiles::RemoveTree;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

// --- the user-interface thread ----------------------------------------------

// Stands in for the window's message loop: the downloader posts here from
// its worker and the test thread runs what was posted while it waits.
class TaskQueue {
 public:
  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
  }

  // Runs posted tasks until `until()` holds or `timeoutMs` has passed;
  // `until()` may also watch things no task changes, so it is polled.
  bool RunUntil(const std::function<bool()>& until, DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!until()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      const auto wake = std::min(deadline, now + std::chrono::milliseconds(20));
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_until(lock, wake, [this] { return !tasks_.empty(); })) continue;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    return true;
  }

  void RunFor(DWORD ms) {
    RunUntil([] { return false; }, ms);
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
};

struct Progress {
  std::uint64_t received = 0;
  std::uint64_t total = 0;
};

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace(L"下载测试");
    ASSERT_TRUE(scratch_->created());
    folder_ = scratch_->path();
    uiThread_ = ::GetCurrentThreadId();
  }
  void TearDown() override {
    SetMode("ok");
    scratch_.reset();
  }

  PostToUi Poster() {
    return [this](std::function<void()> task) { queue_.Post(std::move(task)); };
  }
  Win32Downloader::Progress Recorder() {
    return [this](std::uint64_t received, std::uint64_t total) {
      EXPECT_EQ(::GetCurrentThreadId(), uiThread_) << "progress off the user-interface thread";
      progress_.push_back({received, total});
    };
  }

  // Starts a download and runs the "message loop" until `done` came.
  struct Outcome {
    bool finished = false;
    std::int32_t result = 1;
    Sha256Digest sha256{};
    std::shared_ptr<HeldFile> file;
    int calls = 0;
  };
  // The bytes of the held file a download gave.
  static std::optional<std::string> Read(const Outcome& outcome) {
    if (!outcome.file) return std::nullopt;
    const Result<std::string> bytes = Win32FileSystem().ReadSmallFile(*outcome.file, 64 << 20);
    if (!bytes.ok()) return std::nullopt;
    return bytes.value();
  }
  Outcome Download(Win32Downloader& downloader, const std::wstring& url,
                   const std::wstring& file) {
    Outcome outcome;
    downloader.Start(url, file, [this, &outcome](const DownloadResult& download) {
      EXPECT_EQ(::GetCurrentThreadId(), uiThread_) << "done off the user-interface thread";
      outcome.result = download.result;
      outcome.sha256 = download.sha256;
      outcome.file = download.file;
      ++outcome.calls;
    });
    outcome.finished = queue_.RunUntil([&] { return outcome.calls > 0; }, kDownloadLimitMs);
    EXPECT_TRUE(threads_.WaitIdle(5000));
    queue_.RunFor(50);  // anything posted late would show as a second call
    return outcome;
  }

  std::optional<ScratchFolder> scratch_;
  std::wstring folder_;
  TaskQueue queue_;
  BackgroundThreads threads_;
  std::vector<Progress> progress_;
  DWORD uiThread_ = 0;
};

// --- answers of the server --------------------------------------------------

enum class FileAfter { kBody, kEmpty, kAbsent };

struct ModeCase {
  const char* mode;
  std::size_t size;
  std::int32_t result;
  FileAfter file;
  int requests;      // what the server saw: more than one when retried
  double waitedS;    // between the tries
};

const ModeCase kModeCases[] = {
    {"ok", kDefaultSize, 0, FileAfter::kBody, 1, 0},
    {"ok", 1, 0, FileAfter::kBody, 1, 0},
    {"ok", 1500000, 0, FileAfter::kBody, 1, 0},
    {"404", kDefaultSize, kInetEResourceNotFound, FileAfter::kAbsent, 1, 0},
    {"500", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 3, 4},
    {"empty", kDefaultSize, 0, FileAfter::kEmpty, 1, 0},
    {"truncated", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 3, 4},
    // Cut while whole buffers are read without asking first.
    {"truncated", 1500000, kInetEDownloadFailure, FileAfter::kAbsent, 3, 4},
    // Without a length its end cannot be told from a cut.
    {"nolength", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"refuse", kDefaultSize, kInetECannotConnect, FileAfter::kAbsent, 0, 4},
    {"untrusted", kDefaultSize, kInetESecurityProblem, FileAfter::kAbsent, 0, 0},
    {"redirect-http", kDefaultSize, kInetERedirectFailed, FileAfter::kAbsent, 1, 0},
    {"stall", kDefaultSize, kInetEConnectionTimeout, FileAfter::kAbsent, 1, 0},
    {"stall-late", 1500000, kInetEConnectionTimeout, FileAfter::kAbsent, 1, 0},
    {"login", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"login-untyped", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"drop?n=1", kDefaultSize, 0, FileAfter::kBody, 2, 1},
    {"drop?n=3", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 3, 4},
    {"503?n=2", kDefaultSize, 0, FileAfter::kBody, 3, 4},
    {"503?n=1&retry_after=2", kDefaultSize, 0, FileAfter::kBody, 2, 2},
    {"503?n=1&retry_after=11", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"oversized", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"endless", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    // A chunked body's end cannot be told from a cut either.
    {"chunked", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"chunked-cut", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    // Only a whole 200 is the plug-in.
    {"206", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    {"gzip", kDefaultSize, kInetEDownloadFailure, FileAfter::kAbsent, 1, 0},
    // Never stalled, ended by the deadline.
    {"trickle", kDefaultSize, kInetEConnectionTimeout, FileAfter::kAbsent, 1, 0},
};

// Failures a loopback server cannot cause, as Windows reports them: the code
// the dialog shows, and the kind that decides whether it is tried again.
TEST(WinHttpFailures, WindowsOnlyFailuresAreReportedAsTheUrlServiceDoes) {
  struct Case {
    DWORD error;
    AttemptEnd end;
    std::int32_t result;
  } cases[] = {
      {ERROR_WINHTTP_NAME_NOT_RESOLVED, AttemptEnd::kNameNotResolved, kInetEResourceNotFound},
      {WSAENETUNREACH, AttemptEnd::kOther, kInetECannotConnect},
      {WSAEHOSTUNREACH, AttemptEnd::kOther, kInetECannotConnect},
      {WSAECONNABORTED, AttemptEnd::kDropped, kInetEDownloadFailure},
      {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, AttemptEnd::kDropped, kInetEDownloadFailure},
      {ERROR_WINHTTP_TIMEOUT, AttemptEnd::kStalled, kInetEConnectionTimeout},
      {WSAETIMEDOUT, AttemptEnd::kStalled, kInetEConnectionTimeout},
      {ERROR_WINHTTP_SECURE_CERT_REVOKED, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_SECURE_FAILURE_PROXY, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED_PROXY, AttemptEnd::kSecurity, kInetESecurityProblem},
      {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, AttemptEnd::kOther, kInetEInvalidUrl},
      {ERROR_WINHTTP_OPERATION_CANCELLED, AttemptEnd::kOther, kEAbort},
      {ERROR_WINHTTP_AUTODETECTION_FAILED, AttemptEnd::kOther, kInetEDownloadFailure},
  };
  for (const Case& c : cases) {
    const AttemptOutcome outcome = WinHttpFailure(Status(c.error));
    EXPECT_EQ(outcome.end, c.end) << c.error;
    EXPECT_EQ(outcome.result, c.result) << c.error;
  }
}

Sha256Digest Sha256Of(const std::string& bytes) {
  Sha256 hash;
  EXPECT_TRUE(hash.Update(bytes.data(), bytes.size()).ok());
  const Result<Sha256Digest> digest = hash.Finish();
  EXPECT_TRUE(digest.ok());
  return digest.value();
}

TEST_F(DownloaderTest, ResultAndFileFollowTheServersAnswer) {
  for (const ModeCase& c : kModeCases) {
    SCOPED_TRACE(std::string("mode ") + c.mode + ", size " + std::to_string(c.size));
    ASSERT_TRUE(SetMode(c.mode, c.size));
    const std::wstring file = folder_ + L"\\插件.gip";
    ASSERT_FALSE(Exists(file));
    progress_.clear();

    Win32Downloader downloader(threads_, Poster(), Recorder(), kStallMs, kDeadlineMs, kMaxBytes);
    const auto begin = std::chrono::steady_clock::now();
    Outcome outcome = Download(downloader, kUrl, file);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    ASSERT_TRUE(outcome.finished) << "no result after " << kDownloadLimitMs << " ms";
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.result, c.result) << std::hex << "got 0x" << outcome.result
                                        << ", expected 0x" << c.result;
    EXPECT_EQ(ServerRequests().count, c.requests);
    const std::optional<std::string> data = Read(outcome);
    switch (c.file) {
      case FileAfter::kBody:
        ASSERT_TRUE(data);
        // Held: no one else can write to it.
        EXPECT_FALSE(FileHandle(::CreateFileW(
            ExtendedPath(file).c_str(), GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
            nullptr)));
        EXPECT_EQ(data->size(), c.size);
        EXPECT_TRUE(*data == ExpectedBody(c.size)) << "the file differs from what was served";
        EXPECT_TRUE(outcome.sha256 == Sha256Of(*data)) << "the digest is not of the body";
        ASSERT_FALSE(progress_.empty());
        EXPECT_EQ(progress_.back().received, c.size);
        EXPECT_EQ(progress_.back().total, c.size);
        for (std::size_t i = 1; i < progress_.size(); ++i) {
          EXPECT_LE(progress_[i - 1].received, progress_[i].received);
        }
        break;
      case FileAfter::kEmpty:
        EXPECT_TRUE(data);
        EXPECT_EQ(data.value_or(std::string()).size(), 0u);
        break;
      case FileAfter::kAbsent:
        EXPECT_FALSE(Exists(file)) << "a failed download left a file behind";
        EXPECT_FALSE(outcome.file);
        break;
    }
    EXPECT_GE(seconds, c.waitedS * 0.9);
    if (std::string(c.mode) == "stall") {
      // Ended by the stall limit, not by the 30 s defaults.
      EXPECT_GE(seconds, kStallMs / 1000.0 * 0.75);
      EXPECT_LT(seconds, kStallMs / 1000.0 + 8);
    }
    if (std::string(c.mode) == "trickle") {
      EXPECT_GE(seconds, kDeadlineMs / 1000.0 * 0.9);
      EXPECT_LT(seconds, kDeadlineMs / 1000.0 + 8);
    }
    // The file goes once let go; an empty folder for the next case.
    outcome.file.reset();
    EXPECT_FALSE(Exists(file));
    ASSERT_TRUE(RemoveTree(folder_) && ::CreateDirectoryW(ExtendedPath(folder_).c_str(), nullptr));
  }
}

// --- requests that never reach a server -----------------------------------

struct LocalCase {
  const char* what;
  std::wstring url;
  std::wstring file;  // under the test folder
  std::int32_t result;
};

TEST_F(DownloaderTest, BadUrlsAndUnwritableTargetsFail) {
  ASSERT_TRUE(SetMode("ok"));
  const LocalCase cases[] = {
      {"empty URL", L"", L"a.gip", kInetEInvalidUrl},
      {"no scheme", L"not a url", L"a.gip", kInetEInvalidUrl},
      {"ftp", L"ftp://127.0.0.1:47631/down/Zarvelo_CDRplugin.gip", L"a.gip", kInetEInvalidUrl},
      {"no host", L"https:///down/Zarvelo_CDRplugin.gip", L"a.gip", kInetEInvalidUrl},
      {"missing folder", kUrl, L"缺少的文件夹\\a.gip", HResultFromWin32(ERROR_PATH_NOT_FOUND)},
      {"target is a folder", kUrl, L"", HResultFromWin32(ERROR_FILE_EXISTS)},
  };
  for (const LocalCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring file = c.file.empty() ? folder_ : folder_ + L"\\" + c.file;
    Win32Downloader downloader(threads_, Poster());
    const Outcome outcome = Download(downloader, c.url, file);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.result, c.result) << std::hex << "got 0x" << outcome.result
                                        << ", expected 0x" << c.result;
    if (!c.file.empty()) {
      EXPECT_FALSE(Exists(file));
    }
  }
}

// Plain HTTP is accepted too: the control port serves the body as /body.
TEST_F(DownloaderTest, DownloadsOverPlainHttp) {
  ASSERT_TRUE(SetMode("ok", 5000));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  Win32Downloader downloader(threads_, Poster());
  const Outcome outcome =
      Download(downloader, L"http://127.0.0.1:" + std::to_wstring(kControlPort) + L"/body", file);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.result, 0);
  const std::optional<std::string> data = Read(outcome);
  EXPECT_TRUE(data == ExpectedBody(5000));
  EXPECT_TRUE(data);
}

// --- files ------------------------------------------------------------------

TEST_F(DownloaderTest, WritesToALongUnicodePath) {
  ASSERT_TRUE(SetMode("ok", 70000));
  std::wstring path = folder_;
  while (path.size() < 300) {
    path += L"\\设计师的文件夹-Ünïcødé-插件目录";
    ASSERT_TRUE(::CreateDirectoryW(ExtendedPath(path).c_str(), nullptr));
  }
  const std::wstring file = path + L"\\矢量插件-Zarvelo_CDRplugin.gip";
  ASSERT_GT(file.size(), 260u);

  Win32Downloader downloader(threads_, Poster());
  const Outcome outcome = Download(downloader, kUrl, file);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.result, 0);
  const std::optional<std::string> data = Read(outcome);
  EXPECT_TRUE(data == ExpectedBody(70000));
  EXPECT_TRUE(data);
}

// A file someone planted under the download's name and keeps open (a
// scanner still reading the last attempt's file) is never written to: the
// download takes a fresh name beside it and says so.
TEST_F(DownloaderTest, NeverWritesIntoAFileThatWasThere) {
  ASSERT_TRUE(SetMode("ok", 1000));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  const std::wstring fresh = folder_ + L"\\Zarvelo_CDRplugin (2).gip";
  ASSERT_TRUE(WriteBytes(file, "planted"));
  {
    FileHandle held(::CreateFileW(ExtendedPath(file).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(held);
    Win32Downloader downloader(threads_, Poster());
    const Outcome outcome = Download(downloader, kUrl, file);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(Exists(fresh));
    EXPECT_TRUE(Read(outcome) == ExpectedBody(1000));
  }
  EXPECT_FALSE(Exists(fresh)) << "the download stayed once let go";
  EXPECT_EQ(ReadBytes(file).value_or(""), "planted");
}

TEST_F(DownloaderTest, ReplacesAnExistingLongerFile) {
  ASSERT_TRUE(SetMode("ok", 1000));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  ASSERT_TRUE(WriteBytes(file, std::string(5000, 'x')));

  Win32Downloader downloader(threads_, Poster());
  const Outcome outcome = Download(downloader, kUrl, file);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.result, 0);
  const std::string data = Read(outcome).value_or(std::string());
  EXPECT_EQ(data.size(), 1000u);
  EXPECT_TRUE(data == ExpectedBody(1000));
}

// --- never from a cache -------------------------------------------------------

TEST_F(DownloaderTest, EveryAttemptAsksTheServer) {
  ASSERT_TRUE(SetMode("ok", 20000));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  Win32Downloader downloader(threads_, Poster());
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    const Outcome outcome = Download(downloader, kUrl, file);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.result, 0);
    const Requests seen = ServerRequests();
    EXPECT_EQ(seen.count, attempt);
    EXPECT_NE(seen.json.find("\"Cache-Control\": \"no-cache\""), std::string::npos) << seen.json;
    EXPECT_NE(seen.json.find("\"Pragma\": \"no-cache\""), std::string::npos) << seen.json;
  }
}

// --- cancelling -------------------------------------------------------------

TEST_F(DownloaderTest, CancelEndsASlowTransferWithoutReportingIt) {
  ASSERT_TRUE(SetMode("slow"));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  Win32Downloader downloader(threads_, Poster(), Recorder());
  int calls = 0;
  downloader.Start(kUrl, file, [&calls](const DownloadResult&) { ++calls; });
  // Well into the body: some progress arrived and the file exists.
  ASSERT_TRUE(queue_.RunUntil(
      [this] { return !progress_.empty() && progress_.back().received >= 20000; }, 15000));
  EXPECT_TRUE(Exists(file));
  EXPECT_FALSE(threads_.WaitIdle(0));

  const auto begin = std::chrono::steady_clock::now();
  downloader.Cancel();
  EXPECT_TRUE(threads_.WaitIdle(2500));
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 2.0);
  EXPECT_FALSE(Exists(file)) << "the partial file is still there";
  const std::size_t progressSeen = progress_.size();
  queue_.RunFor(4500);  // longer than the whole slow body takes
  EXPECT_EQ(calls, 0) << "done was called after Cancel()";
  EXPECT_EQ(progress_.size(), progressSeen) << "progress was reported after Cancel()";
}

TEST_F(DownloaderTest, CancelEndsTheWaitBeforeARetryAtOnce) {
  ASSERT_TRUE(SetMode("503?n=3&retry_after=10"));
  Win32Downloader downloader(threads_, Poster());
  int calls = 0;
  downloader.Start(kUrl, folder_ + L"\\a.gip", [&calls](const DownloadResult&) { ++calls; });
  ASSERT_TRUE(queue_.RunUntil([] { return ServerRequests().count == 1; }, 15000));
  queue_.RunFor(300);  // now waiting the 10 s the server asked for
  const auto begin = std::chrono::steady_clock::now();
  downloader.Cancel();
  EXPECT_TRUE(threads_.WaitIdle(2000));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 0.5);
  queue_.RunFor(200);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ServerRequests().count, 1);
}

TEST_F(DownloaderTest, DestroyingTheDownloaderCancelsItsTransfer) {
  ASSERT_TRUE(SetMode("slow"));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  int calls = 0;
  auto downloader = std::make_unique<Win32Downloader>(threads_, Poster(), Recorder());
  downloader->Start(kUrl, file, [&calls](const DownloadResult&) { ++calls; });
  ASSERT_TRUE(queue_.RunUntil([this] { return !progress_.empty(); }, 15000));

  const auto begin = std::chrono::steady_clock::now();
  downloader.reset();
  EXPECT_TRUE(threads_.WaitIdle(2000));
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 2.5);
  EXPECT_FALSE(Exists(file)) << "the partial file is still there";
  queue_.RunFor(4500);  // longer than the whole slow body takes
  EXPECT_EQ(calls, 0) << "done was called after the downloader was gone";
}

// WinHTTP may hold on to a request whose receive waits on a silent server
// (Wine lets go only at the stall limit): the destructor still returns in
// time, and the partial file goes at once, not when WinHTTP lets go.
TEST_F(DownloaderTest, DestroyingDuringAStallDoesNotWaitForIt) {
  ASSERT_TRUE(SetMode("stall"));
  const std::wstring file = folder_ + L"\\Zarvelo_CDRplugin.gip";
  constexpr DWORD kLongStallMs = 6000;
  int calls = 0;
  auto downloader = std::make_unique<Win32Downloader>(threads_, Poster(), Recorder(), kLongStallMs);
  downloader->Start(kUrl, file, [&calls](const DownloadResult&) { ++calls; });
  ASSERT_TRUE(queue_.RunUntil([&] { return !progress_.empty() && Exists(file); }, 15000));
  queue_.RunFor(300);  // the worker now waits for bytes that do not come

  const auto begin = std::chrono::steady_clock::now();
  downloader.reset();
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 4.5);  // not the 6 s stall
  EXPECT_TRUE(queue_.RunUntil([&] { return !Exists(file); }, 1000)) << "the partial file stayed";
  queue_.RunFor(200);
  EXPECT_EQ(calls, 0);
}

TEST_F(DownloaderTest, StartingAgainReplacesTheRunningTransfer) {
  ASSERT_TRUE(SetMode("slow", 40000));
  const std::wstring first = folder_ + L"\\first.gip";
  const std::wstring second = folder_ + L"\\second.gip";
  Win32Downloader downloader(threads_, Poster());
  int firstCalls = 0;
  downloader.Start(kUrl, first, [&firstCalls](const DownloadResult&) { ++firstCalls; });
  queue_.RunFor(200);
  const Outcome outcome = Download(downloader, kUrl, second);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(firstCalls, 0);
  EXPECT_FALSE(Exists(first));
  EXPECT_TRUE(Read(outcome) == ExpectedBody(40000));
}

}  // namespace
}  // namespace zarvelo::win32
