#pragma once
// Owning UTF-16 strings and lists of them on the process heap. Every
// operation that allocates reports failure as E_OUTOFMEMORY instead of
// throwing; a failed operation leaves the object as it was.

#include <windows.h>

#include <cstddef>

namespace platform {

class WideString {
 public:
  WideString() noexcept = default;
  WideString(WideString&& other) noexcept;
  WideString& operator=(WideString&& other) noexcept;
  WideString(const WideString&) = delete;
  WideString& operator=(const WideString&) = delete;
  ~WideString();

  // Replaces the text with `length` units of `text` (which need not be
  // terminated). A null `text` with length 0 empties the string.
  HRESULT assign(const wchar_t* text, std::size_t length) noexcept;
  HRESULT assign(const wchar_t* text) noexcept;  // up to the terminator
  HRESULT append(const wchar_t* text, std::size_t length) noexcept;
  HRESULT append(const wchar_t* text) noexcept;
  void clear() noexcept;

  // Always a terminated string; L"" when empty.
  const wchar_t* c_str() const noexcept { return buffer_ != nullptr ? buffer_ : L""; }
  // Writable text of length() units plus the terminator; null when empty.
  wchar_t* data() noexcept { return buffer_; }
  std::size_t length() const noexcept { return length_; }
  bool empty() const noexcept { return length_ == 0; }

 private:
  HRESULT replace(const wchar_t* head, std::size_t headLength, const wchar_t* tail,
                  std::size_t tailLength) noexcept;

  wchar_t* buffer_ = nullptr;
  std::size_t length_ = 0;
};

// An ordered, growable list of owned strings.
class WideStringList {
 public:
  WideStringList() noexcept = default;
  WideStringList(const WideStringList&) = delete;
  WideStringList& operator=(const WideStringList&) = delete;
  ~WideStringList();

  HRESULT append(const wchar_t* text, std::size_t length) noexcept;
  HRESULT append(const wchar_t* text) noexcept;
  void clear() noexcept;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const WideString& operator[](std::size_t index) const noexcept { return items_[index]; }

 private:
  WideString* items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace platform
