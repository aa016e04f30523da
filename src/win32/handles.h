// Small owners for Win32 handles: each closes its handle exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace zarvelo::win32 {

template <typename H, auto Close, auto Invalid>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(H handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, Invalid()));
    return *this;
  }
  ~UniqueHandle() { reset(); }

  H get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid(); }
  void reset(H handle = Invalid()) {
    if (handle_ != Invalid()) Close(handle_);
    handle_ = handle;
  }
  H release() { return std::exchange(handle_, Invalid()); }

 private:
  H handle_ = Invalid();
};

namespace detail {
inline HANDLE InvalidFile() { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandle() { return nullptr; }
inline HFONT NullFont() { return nullptr; }
inline HICON NullIcon() { return nullptr; }
inline HWND NullWindow() { return nullptr; }
inline void CloseFile(HANDLE h) { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void DeleteFont(HFONT h) { ::DeleteObject(h); }
inline void DestroyIconHandle(HICON h) { ::DestroyIcon(h); }
inline void DestroyWindowHandle(HWND h) { ::DestroyWindow(h); }
}  // namespace detail

// CreateFile results (INVALID_HANDLE_VALUE when absent).
using FileHandle = UniqueHandle<HANDLE, detail::CloseFile, detail::InvalidFile>;
// FindFirstFile results.
using FindHandle = UniqueHandle<HANDLE, detail::CloseFind, detail::InvalidFile>;
// Threads, events and processes (null when absent).
using KernelHandle = UniqueHandle<HANDLE, detail::CloseFile, detail::NullHandle>;
using FontHandle = UniqueHandle<HFONT, detail::DeleteFont, detail::NullFont>;
using IconHandle = UniqueHandle<HICON, detail::DestroyIconHandle, detail::NullIcon>;
using WindowHandle = UniqueHandle<HWND, detail::DestroyWindowHandle, detail::NullWindow>;

// Releases a COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T** put() {
    reset();
    return &ptr_;
  }
  void reset() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace zarvelo::win32
