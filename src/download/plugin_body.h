// Whether what a server sent is plainly a web page rather than the plug-in:
// a hotel or campus network's login page answers with 200 too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvelo {

// True for a Content-Type of text/html, with or without parameters.
bool IsWebPageType(std::wstring_view contentType);

// Looks at the body as it arrives: a page starts, after an optional UTF-8
// byte order mark and white space, with "<!doctype html" or "<html", in
// any letter case.
class WebPageSniffer {
 public:
  void Feed(const char* data, std::size_t size);
  bool IsWebPage() const { return page_; }

 private:
  void Take(unsigned char byte);

  std::size_t offset_ = 0;  // bytes seen
  std::size_t bom_ = 0;     // bytes of a byte order mark seen
  std::string start_;       // lowercased, from the first byte after white space
  bool decided_ = false;
  bool page_ = false;
};

}  // namespace zarvelo
