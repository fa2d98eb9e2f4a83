#pragma once
// One RAII owner template for every kind of Win32 handle the DLL acquires, so
// that no early return can leak one. put() releases first and hands out the
// slot for an out-parameter.

#include <oleauto.h>
#include <shlobj.h>
#include <windows.h>

#include <cstddef>
#include <new>
#include <utility>

#include "platform/memory.h"

namespace platform {

template <typename T, void (*Close)(T) noexcept>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != T{}; }

  // Gives up ownership without closing.
  T release() noexcept { return std::exchange(value_, T{}); }

  void reset(T value = T{}) noexcept {
    T old = std::exchange(value_, value);
    if (old != T{}) {
      Close(old);
    }
  }

  // Closes what is held and returns the empty slot for an out-parameter.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_{};
};

namespace close {
inline void key(HKEY h) noexcept { RegCloseKey(h); }
inline void handle(HANDLE h) noexcept { CloseHandle(h); }
inline void dc(HDC h) noexcept { DeleteDC(h); }
inline void bitmap(HBITMAP h) noexcept { DeleteObject(h); }
inline void icon(HICON h) noexcept { DestroyIcon(h); }
inline void itemIdList(LPITEMIDLIST h) noexcept { ILFree(h); }
inline void bstr(BSTR h) noexcept { SysFreeString(h); }
inline void module(HMODULE h) noexcept { FreeLibrary(h); }
inline void menu(HMENU h) noexcept { DestroyMenu(h); }
inline void heapBlock(void* h) noexcept { platform::release(h); }
inline void wideText(wchar_t* h) noexcept { platform::release(h); }
}  // namespace close

using UniqueKey = UniqueResource<HKEY, close::key>;
using UniqueHandle = UniqueResource<HANDLE, close::handle>;
using UniqueDc = UniqueResource<HDC, close::dc>;
using UniqueBitmap = UniqueResource<HBITMAP, close::bitmap>;
using UniqueIcon = UniqueResource<HICON, close::icon>;
using UniqueItemIdList = UniqueResource<LPITEMIDLIST, close::itemIdList>;
using UniqueBstr = UniqueResource<BSTR, close::bstr>;
using UniqueModule = UniqueResource<HMODULE, close::module>;
using UniqueMenu = UniqueResource<HMENU, close::menu>;
// Text from platform::allocate.
using UniqueWideText = UniqueResource<wchar_t*, close::wideText>;
using UniqueHeapBlock = UniqueResource<void*, close::heapBlock>;  // from platform::allocate

// A storage medium filled by IDataObject::GetData; released with
// ReleaseStgMedium, which honours pUnkForRelease.
class UniqueStgMedium {
 public:
  UniqueStgMedium() noexcept = default;
  UniqueStgMedium(const UniqueStgMedium&) = delete;
  UniqueStgMedium& operator=(const UniqueStgMedium&) = delete;
  ~UniqueStgMedium() { reset(); }

  STGMEDIUM& get() noexcept { return medium_; }
  // Releases what is held and returns the medium ready for GetData, set to
  // TYMED_HGLOBAL with no handle and no release object.
  STGMEDIUM* put() noexcept {
    reset();
    medium_.tymed = TYMED_HGLOBAL;
    return &medium_;
  }
  void reset() noexcept {
    if (medium_.tymed != TYMED_NULL && (medium_.hGlobal != nullptr || medium_.pUnkForRelease != nullptr)) {
      ReleaseStgMedium(&medium_);
    }
    medium_ = STGMEDIUM{};
  }

 private:
  STGMEDIUM medium_{};
};

// Holds GlobalLock on a memory handle for its lifetime.
class GlobalMemoryLock {
 public:
  explicit GlobalMemoryLock(HGLOBAL memory) noexcept
      : memory_(memory), data_(memory != nullptr ? GlobalLock(memory) : nullptr) {}
  GlobalMemoryLock(const GlobalMemoryLock&) = delete;
  GlobalMemoryLock& operator=(const GlobalMemoryLock&) = delete;
  ~GlobalMemoryLock() {
    if (data_ != nullptr) {
      GlobalUnlock(memory_);
    }
  }
  void* data() const noexcept { return data_; }

 private:
  HGLOBAL memory_;
  void* data_;
};

// An owning COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) {
      old->Release();
    }
  }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
  T* detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// An array of `count` value-initialised items on the process heap (through
// the DLL's nothrow operator new), destroyed and freed with its owner.
template <typename T>
class HeapArray {
 public:
  HeapArray() noexcept = default;
  HeapArray(const HeapArray&) = delete;
  HeapArray& operator=(const HeapArray&) = delete;
  ~HeapArray() { delete[] items_; }

  // Replaces the items with `count` fresh ones; E_OUTOFMEMORY leaves none.
  HRESULT allocate(std::size_t count) noexcept {
    delete[] items_;
    items_ = nullptr;
    if (count > static_cast<std::size_t>(-1) / sizeof(T) / 2) {
      return E_OUTOFMEMORY;
    }
    items_ = new (std::nothrow) T[count == 0 ? 1 : count]();
    return items_ != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  T* get() const noexcept { return items_; }
  T& operator[](std::size_t index) const noexcept { return items_[index]; }

 private:
  T* items_ = nullptr;
};

}  // namespace platform
