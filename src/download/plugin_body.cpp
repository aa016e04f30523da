#include "download/plugin_body.h"

#include "download/http_fields.h"
#include "platform/text.h"

namespace zarvelo {
namespace {

constexpr std::string_view kPageStarts[] = {"<!doctype html", "<html", "<head", "<!--", "<?xml"};
// Byte order marks: UTF-8, UTF-16 little-endian, UTF-16 big-endian.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool IsSpace(unsigned c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// A header value without the spaces around it, compared in any ASCII case.
bool IsToken(const std::wstring& value, std::wstring_view token) {
  std::wstring_view v = value;
  while (!v.empty() && (v.front() == L' ' || v.front() == L'\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == L' ' || v.back() == L'\t')) v.remove_suffix(1);
  if (v.size() != token.size()) return false;
  for (std::size_t i = 0; i < v.size(); ++i)
    if (FoldAscii(v[i]) != token[i]) return false;
  return true;
}

}  // namespace

bool IsWebPageType(std::wstring_view contentType) {
  constexpr std::wstring_view kHtml = L"text/html";
  while (!contentType.empty() && (contentType.front() == L' ' || contentType.front() == L'\t'))
    contentType.remove_prefix(1);
  if (contentType.size() < kHtml.size()) return false;
  for (std::size_t i = 0; i < kHtml.size(); ++i)
    if (FoldAscii(contentType[i]) != kHtml[i]) return false;
  const std::wstring_view rest = contentType.substr(kHtml.size());
  for (const wchar_t c : rest) {
    if (c == L';') return true;
    if (c != L' ' && c != L'\t') return false;
  }
  return true;
}

void WebPageSniffer::Feed(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && !decided_; ++i) Take(static_cast<unsigned char>(data[i]));
}

void WebPageSniffer::Take(unsigned char byte) {
  if (encoding_ == Encoding::kUnknown) {
    bom_ += static_cast<char>(byte);
    for (const std::string_view bom : {kUtf8Bom, kUtf16LeBom, kUtf16BeBom}) {
      if (bom_ == bom) {
        encoding_ = bom == kUtf16LeBom   ? Encoding::kUtf16Le
                    : bom == kUtf16BeBom ? Encoding::kUtf16Be
                                         : Encoding::kSingleByte;
        return;
      }
      if (StartsWith(bom, bom_)) return;  // may still be one
    }
    // No byte order mark: the bytes so far are text.
    encoding_ = Encoding::kSingleByte;
    for (const char c : bom_)
      if (!decided_) TakeUnit(static_cast<unsigned char>(c));
    return;
  }
  if (encoding_ == Encoding::kSingleByte) {
    TakeUnit(byte);
    return;
  }
  if (half_ < 0) {
    half_ = byte;
    return;
  }
  const unsigned first = static_cast<unsigned>(half_);
  half_ = -1;
  TakeUnit(encoding_ == Encoding::kUtf16Le ? first | (unsigned{byte} << 8) : (first << 8) | byte);
}

void WebPageSniffer::TakeUnit(unsigned unit) {
  if (start_.empty() && IsSpace(unit)) return;
  if (unit > 0x7F) {  // every opening is ASCII
    decided_ = true;
    return;
  }
  start_ += static_cast<char>(FoldAscii(unit));
  bool couldBe = false;
  for (const std::string_view page : kPageStarts) {
    if (start_.size() <= page.size() && StartsWith(page, start_)) {
      couldBe = true;
      if (start_.size() == page.size()) {
        page_ = true;
        decided_ = true;
        return;
      }
    }
  }
  if (!couldBe) decided_ = true;
}

BodyPlan PlanBody(const BodyHeaders& headers, std::uint64_t maxBytes) {
  BodyPlan plan;
  if (IsWebPageType(headers.contentType.value_or(L""))) {
    plan.verdict = BodyVerdict::kWebPage;
    return plan;
  }
  // The plug-in's bytes are installed as they come: no decoding of ours.
  if (headers.contentEncoding && !IsToken(*headers.contentEncoding, L"") &&
      !IsToken(*headers.contentEncoding, L"identity")) {
    plan.verdict = BodyVerdict::kEncoded;
    return plan;
  }
  if (headers.transferEncoding) {
    // WinHTTP undoes chunking itself, and nothing else; but a chunked body
    // cut in the middle of a chunk can end as if whole, as a body that the
    // closing connection ends does.
    plan.verdict = IsToken(*headers.transferEncoding, L"chunked") ? BodyVerdict::kNoLength
                                                                  : BodyVerdict::kEncoded;
    return plan;
  }
  plan.length = headers.contentLength ? ParseContentLength(*headers.contentLength) : std::nullopt;
  if (!plan.length) {
    plan.verdict = BodyVerdict::kNoLength;
  } else if (*plan.length > maxBytes) {
    plan.verdict = BodyVerdict::kTooLarge;
  }
  return plan;
}

}  // namespace zarvelo
