// The yardstick for a whole install's time (tools/bench): a plain
// synchronous WinHTTP download of one URL into one file, built by the same
// toolchain, and nothing else: no hashing, no checks, no copy.
//   bare_download <https URL> <file>   prints the milliseconds it took
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

namespace {

struct Internet {
  HINTERNET handle;
  ~Internet() {
    if (handle) ::WinHttpCloseHandle(handle);
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 3;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);

  const Internet session{::WinHttpOpen(L"bare", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0)};
  if (!session.handle) return 4;
  const Internet connection{::WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0)};
  if (!connection.handle) return 4;
  const Internet request{::WinHttpOpenRequest(connection.handle, L"GET", path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              WINHTTP_FLAG_SECURE)};
  if (!request.handle ||
      !::WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.handle, nullptr))
    return 5;

  HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 6;
  static char buffer[64 * 1024];
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::WinHttpReadData(request.handle, buffer, sizeof buffer, &got)) return 7;
    if (got == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, buffer, got, &written, nullptr) || written != got) return 8;
    total += got;
  }
  ::CloseHandle(file);
  ::QueryPerformanceCounter(&end);
  std::printf("%.0f %llu\n",
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart),
              total);
  return 0;
}
