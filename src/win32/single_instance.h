// One installer at a time in a user session: two attempts racing on the same
// files would spoil each other. A second start brings the first one's window
// to the front and ends.
#pragma once

#include <windows.h>

#include "win32/handles.h"

namespace zarvelo::win32 {

class SingleInstance {
 public:
  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process is the session's installer. Otherwise the
  // running installer's window (of `windowClass`) is restored if minimised
  // and brought to the front, and the caller should end without a window.
  bool Claim(const wchar_t* windowClass);

 private:
  KernelHandle mutex_;
  bool owned_ = false;
};

}  // namespace zarvelo::win32
