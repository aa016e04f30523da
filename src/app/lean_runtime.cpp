// Smaller stand-ins for the parts of the C++ runtime that a static MinGW
// build would otherwise carry whole: the exception classes with their own
// narrow strings, the unwinder, and the POSIX threads library behind the
// guard of a function-local static. Linked into the installer only.
//
// The installer catches no exceptions, so any throw (out of memory, a length
// error) already ended it through std::terminate and std::abort. These end
// it the same way, at the point of failure.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>

// The library's own copies of std::wstring and std::string are linked whole,
// unwind tables, exception handling and all, because the linker keeps every
// function an unwind table names. Instances compiled here without those
// tables let the linker drop what the program does not call.
template class std::__cxx11::basic_string<wchar_t>;
template std::wstring std::operator+(const wchar_t*, const std::wstring&);
template std::wstring std::operator+(wchar_t, const std::wstring&);
template class std::__cxx11::basic_string<char>;
template std::string std::operator+(const char*, const std::string&);
template std::string std::operator+(char, const std::string&);

namespace {

[[noreturn]] void OutOfLuck() { std::abort(); }

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) OutOfLuck();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace std {
void __throw_bad_exception() { OutOfLuck(); }
void __throw_bad_alloc() { OutOfLuck(); }
void __throw_bad_array_new_length() { OutOfLuck(); }
void __throw_bad_cast() { OutOfLuck(); }
void __throw_bad_typeid() { OutOfLuck(); }
void __throw_logic_error(const char*) { OutOfLuck(); }
void __throw_domain_error(const char*) { OutOfLuck(); }
void __throw_invalid_argument(const char*) { OutOfLuck(); }
void __throw_length_error(const char*) { OutOfLuck(); }
void __throw_out_of_range(const char*) { OutOfLuck(); }
void __throw_out_of_range_fmt(const char*, ...) { OutOfLuck(); }
void __throw_runtime_error(const char*) { OutOfLuck(); }
void __throw_range_error(const char*) { OutOfLuck(); }
void __throw_overflow_error(const char*) { OutOfLuck(); }
void __throw_underflow_error(const char*) { OutOfLuck(); }
void __throw_ios_failure(const char*) { OutOfLuck(); }
void __throw_ios_failure(const char*, int) { OutOfLuck(); }
void __throw_system_error(int) { OutOfLuck(); }
void __throw_future_error(int) { OutOfLuck(); }
void __throw_bad_function_call() { OutOfLuck(); }

// make_shared's control block answers get_deleter through this when built
// without RTTI, and the library's copy carries exception handling and POSIX
// threads with it. Every object here is built without RTTI, so the tag's
// address, which the caller compares first, is the only match there is.
bool _Sp_make_shared_tag::_S_eq(const type_info&) noexcept { return false; }
}  // namespace std

// The default handler for an uncaught exception prints the exception's
// demangled type name to a console this program does not have; it drags in
// the whole demangler (about 45 KiB). Ending at once is all that is needed.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// Guards for function-local statics, the same protocol as the library's
// (byte 0: initialised; byte 1: being initialised by some thread) on a
// slim lock and condition variable instead of POSIX threads.
namespace {
SRWLOCK guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE guardDone = CONDITION_VARIABLE_INIT;
}  // namespace

extern "C" int __cxa_guard_acquire(std::uint64_t* guard) {
  auto* bytes = reinterpret_cast<unsigned char*>(guard);
  if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE)) return 0;
  ::AcquireSRWLockExclusive(&guardLock);
  for (;;) {
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE)) {
      ::ReleaseSRWLockExclusive(&guardLock);
      return 0;
    }
    if (!bytes[1]) {
      bytes[1] = 1;
      ::ReleaseSRWLockExclusive(&guardLock);
      return 1;  // this thread runs the initialiser
    }
    ::SleepConditionVariableSRW(&guardDone, &guardLock, INFINITE, 0);
  }
}

extern "C" void __cxa_guard_release(std::uint64_t* guard) {
  auto* bytes = reinterpret_cast<unsigned char*>(guard);
  ::AcquireSRWLockExclusive(&guardLock);
  bytes[1] = 0;
  __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
  ::ReleaseSRWLockExclusive(&guardLock);
  ::WakeAllConditionVariable(&guardDone);
}

extern "C" void __cxa_guard_abort(std::uint64_t* guard) {
  auto* bytes = reinterpret_cast<unsigned char*>(guard);
  ::AcquireSRWLockExclusive(&guardLock);
  bytes[1] = 0;
  ::ReleaseSRWLockExclusive(&guardLock);
  ::WakeAllConditionVariable(&guardDone);
}
