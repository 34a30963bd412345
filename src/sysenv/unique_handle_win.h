// Win32 code. One owner type for every kind of handle, so that no path can leak or double-close one.
#pragma once

#include <windows.h>

#include <utility>

namespace sysenv {

// Traits name the empty value and how to close; each handle kind is its own type, so a FindFirstFile
// handle can never be given to CloseHandle by mistake.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::empty(); }
  explicit operator bool() const { return valid(); }

  Handle release() { return std::exchange(handle_, Traits::empty()); }
  void reset(Handle handle = Traits::empty()) {
    if (valid()) Traits::close(handle_);
    handle_ = handle;
  }
  // For out-parameters: releases what is held first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::empty();
};

struct KernelHandleTraits {  // mutexes, processes, threads, events, tokens: empty is null
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFileW: empty is INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle empty() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { ::FindClose(h); }
};
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { ::FreeLibrary(h); }
};
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { ::LocalFree(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

}  // namespace sysenv
