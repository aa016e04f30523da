// Whether what a server sent is plainly a web page rather than the plug-in:
// a hotel or campus network's login page answers with 200 too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarvelo {

// True for a Content-Type of text/html, with or without parameters.
bool IsWebPageType(std::wstring_view contentType);

// Looks at the body as it arrives: a page starts, after an optional byte
// order mark and white space, with "<!doctype html", "<html", "<head",
// "<!--" or "<?xml", in any letter case. With a UTF-16 byte order mark
// (either byte order) it reads the text as UTF-16.
class WebPageSniffer {
 public:
  void Feed(const char* data, std::size_t size);
  bool IsWebPage() const { return page_; }

 private:
  enum class Encoding { kUnknown, kSingleByte, kUtf16Le, kUtf16Be };
  void Take(unsigned char byte);
  void TakeUnit(unsigned unit);

  std::string bom_;         // the first bytes, while they may be a byte order mark
  Encoding encoding_ = Encoding::kUnknown;
  int half_ = -1;           // the first byte of a UTF-16 unit, once it came
  std::string start_;       // lowercased, from the first character after white space
  bool decided_ = false;
  bool page_ = false;
};

// What an answer's headers say about its body.
struct BodyHeaders {
  std::optional<std::wstring> contentLength;
  std::optional<std::wstring> transferEncoding;
  std::optional<std::wstring> contentEncoding;
  std::optional<std::wstring> contentType;
};

enum class BodyVerdict {
  kTake,      // read it
  kWebPage,   // typed as a web page
  kTooLarge,  // announced longer than the largest plug-in
  kNoLength,  // no valid Content-Length (chunked or not): its end cannot be told from a cut
  kEncoded,   // compressed or otherwise encoded: not the plug-in's own bytes
};

struct BodyPlan {
  BodyVerdict verdict = BodyVerdict::kTake;
  // With kTake: the announced length.
  std::optional<std::uint64_t> length;
};

// Whether to read a 200 answer's body at all, before any file is made.
BodyPlan PlanBody(const BodyHeaders& headers, std::uint64_t maxBytes);

}  // namespace zarvelo
