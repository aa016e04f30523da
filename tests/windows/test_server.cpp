#include "windows/test_server.h"

#include <cstdlib>

#include "platform/decimal.h"
#include "win32/download/internet_handle.h"

namespace zarvelo::testserver {
namespace {

using win32::InternetHandle;

// GET http://127.0.0.1:<control port><path>; the status goes to `status`.
std::string ControlGet(const std::wstring& path, DWORD& status) {
  status = 0;
  const InternetHandle session(::WinHttpOpen(L"test-server-control", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return {};
  const InternetHandle connection(::WinHttpConnect(session.get(), L"127.0.0.1", kControlPort, 0));
  if (!connection) return {};
  const InternetHandle request(::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request ||
      !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr))
    return {};
  DWORD size = sizeof status;
  ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  std::string body;
  char buffer[8192];
  DWORD got = 0;
  while (::WinHttpReadData(request.get(), buffer, sizeof buffer, &got) && got > 0)
    body.append(buffer, got);
  return body;
}

}  // namespace

::testing::AssertionResult SetMode(const std::string& mode, std::size_t size,
                                   const std::string& signature) {
  DWORD status = 0;
  const bool hasQuery = mode.find('?') != std::string::npos;
  const std::wstring path = L"/mode/" + std::wstring(mode.begin(), mode.end()) +
                            (hasQuery ? L"&size=" : L"?size=") +
                            Decimal(static_cast<long long>(size)) + L"&sig=" +
                            std::wstring(signature.begin(), signature.end());
  ControlGet(path, status);
  if (status != 200)
    return ::testing::AssertionFailure()
           << "the test server did not take mode " << mode << " (status " << status << ")";
  return ::testing::AssertionSuccess();
}

Requests ServerRequests() {
  DWORD status = 0;
  Requests seen;
  seen.json = ControlGet(L"/requests", status);
  const std::string key = "\"count\": ";
  const std::size_t at = seen.json.find(key);
  if (status == 200 && at != std::string::npos)
    seen.count = std::atoi(seen.json.c_str() + at + key.size());
  return seen;
}

std::string ExpectedBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 31 + 7) % 251);
  return body;
}

}  // namespace zarvelo::testserver
