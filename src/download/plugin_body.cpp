#include "download/plugin_body.h"

#include "platform/text.h"

namespace zarvelo {
namespace {

constexpr unsigned char kBom[] = {0xEF, 0xBB, 0xBF};
constexpr std::string_view kPageStarts[] = {"<!doctype html", "<html"};

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
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
  const std::size_t at = offset_++;
  if (at == bom_ && bom_ < sizeof kBom && byte == kBom[bom_]) {
    ++bom_;
    return;
  }
  if (bom_ != 0 && bom_ < sizeof kBom) {  // a broken byte order mark
    decided_ = true;
    return;
  }
  if (start_.empty() && IsSpace(byte)) return;
  start_ += static_cast<char>(FoldAscii(byte));
  bool couldBe = false;
  for (const std::string_view page : kPageStarts) {
    if (start_.size() <= page.size() && page.substr(0, start_.size()) == start_) {
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

}  // namespace zarvelo
