#include "platform/wide_string.h"

#include <new>
#include <utility>

#include "platform/memory.h"

namespace platform {
namespace {

std::size_t textLength(const wchar_t* text) noexcept {
  std::size_t length = 0;
  if (text != nullptr) {
    while (text[length] != L'\0') {
      ++length;
    }
  }
  return length;
}

}  // namespace

WideString::WideString(WideString&& other) noexcept
    : buffer_(std::exchange(other.buffer_, nullptr)), length_(std::exchange(other.length_, 0)) {}

WideString& WideString::operator=(WideString&& other) noexcept {
  if (this != &other) {
    clear();
    buffer_ = std::exchange(other.buffer_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

WideString::~WideString() { clear(); }

// Makes the text `head` followed by `tail` in a fresh buffer and takes it;
// on failure the string stays as it was. `head` may be this string's own text.
HRESULT WideString::replace(const wchar_t* head, std::size_t headLength, const wchar_t* tail,
                            std::size_t tailLength) noexcept {
  const std::size_t total = headLength + tailLength;
  if (total < headLength || total >= (static_cast<std::size_t>(-1) / sizeof(wchar_t)) - 1) {
    return E_OUTOFMEMORY;
  }
  auto fresh = static_cast<wchar_t*>(allocate((total + 1) * sizeof(wchar_t)));
  if (fresh == nullptr) {
    return E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < headLength; ++i) {
    fresh[i] = head[i];
  }
  for (std::size_t i = 0; i < tailLength; ++i) {
    fresh[headLength + i] = tail[i];
  }
  fresh[total] = L'\0';
  clear();
  buffer_ = fresh;
  length_ = total;
  return S_OK;
}

HRESULT WideString::assign(const wchar_t* text, std::size_t length) noexcept {
  if (length == 0) {
    clear();
    return S_OK;
  }
  return replace(nullptr, 0, text, length);
}

HRESULT WideString::assign(const wchar_t* text) noexcept { return assign(text, textLength(text)); }

HRESULT WideString::append(const wchar_t* text, std::size_t length) noexcept {
  return length == 0 ? S_OK : replace(buffer_, length_, text, length);
}

HRESULT WideString::append(const wchar_t* text) noexcept { return append(text, textLength(text)); }

void WideString::clear() noexcept {
  release(buffer_);
  buffer_ = nullptr;
  length_ = 0;
}

WideStringList::~WideStringList() {
  clear();
  release(items_);
}

HRESULT WideStringList::append(const wchar_t* text, std::size_t length) noexcept {
  WideString item;
  if (HRESULT hr = item.assign(text, length); FAILED(hr)) {
    return hr;
  }
  if (size_ == capacity_) {
    const std::size_t grown = capacity_ == 0 ? 4 : capacity_ * 2;
    if (grown > static_cast<std::size_t>(-1) / sizeof(WideString)) {
      return E_OUTOFMEMORY;
    }
    auto fresh = static_cast<WideString*>(allocate(grown * sizeof(WideString)));
    if (fresh == nullptr) {
      return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < size_; ++i) {
      new (&fresh[i]) WideString(std::move(items_[i]));
      items_[i].~WideString();
    }
    release(items_);
    items_ = fresh;
    capacity_ = grown;
  }
  new (&items_[size_]) WideString(std::move(item));
  ++size_;
  return S_OK;
}

HRESULT WideStringList::append(const wchar_t* text) noexcept { return append(text, textLength(text)); }

void WideStringList::clear() noexcept {
  for (std::size_t i = 0; i < size_; ++i) {
    items_[i].~WideString();
  }
  size_ = 0;
}

}  // namespace platform
