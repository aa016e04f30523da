// The loopback test server (tests/server/plugin_server.py), seen from the
// Windows tests: switch how it answers, read what it saw.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace zarvelo::testserver {

inline constexpr std::size_t kDefaultSize = 300000;
// Plain HTTP; besides switching modes it serves the good body as /body.
inline constexpr unsigned short kControlPort = 47632;

// Modes: ok, 404, 500, empty, truncated, nolength, stall, slow, refuse,
// untrusted, redirect-http, login, login-untyped, oversized, endless,
// chunked, gzip, trickle, and the faults that pass ("drop?n=2",
// "503?n=1&retry_after=2&then=slow"; see plugin_server.py). `size` is the
// body size of the good answer. The plug-in's .sig beside it is
// `signature`: good (the test key's signature of the body), other (of
// another file), garbage, missing or busy (429).
::testing::AssertionResult SetMode(const std::string& mode, std::size_t size = kDefaultSize,
                                   const std::string& signature = "good");

// What the data port saw since the last mode switch: the request count (-1
// when the server did not answer) and its JSON report.
struct Requests {
  int count = -1;
  std::string json;
};
Requests ServerRequests();

// The body the server sends: byte i is (i * 31 + 7) % 251.
std::string ExpectedBody(std::size_t size = kDefaultSize);

}  // namespace zarvelo::testserver
