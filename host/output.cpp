#include "host/output.h"

#include <windows.h>

#include <cstdio>

namespace host {
namespace {

void write(DWORD which, const std::wstring& text) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  DWORD written = 0;
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  std::string bytes = toAnsi(text, CP_UTF8);
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) {
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
}

}  // namespace

void out(const std::wstring& text) { write(STD_OUTPUT_HANDLE, text); }
void err(const std::wstring& text) { write(STD_ERROR_HANDLE, text); }

std::wstring hex(unsigned long value, int digits) {
  wchar_t text[24];
  swprintf(text, 24, L"0x%0*lX", digits, value);
  return text;
}

std::wstring hresultText(long hr) {
  struct Known {
    HRESULT value;
    const wchar_t* name;
  };
  static const Known known[] = {
      {S_OK, L"S_OK"},
      {S_FALSE, L"S_FALSE"},
      {E_INVALIDARG, L"E_INVALIDARG"},
      {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
      {E_NOTIMPL, L"E_NOTIMPL"},
      {E_NOINTERFACE, L"E_NOINTERFACE"},
      {E_FAIL, L"E_FAIL"},
      {E_POINTER, L"E_POINTER"},
      {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE"},
      {CLASS_E_NOAGGREGATION, L"CLASS_E_NOAGGREGATION"},
      {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG"},
      {CO_E_DLLNOTFOUND, L"CO_E_DLLNOTFOUND"},
      {CO_E_ERRORINDLL, L"CO_E_ERRORINDLL"},
  };
  std::wstring text = hex(static_cast<unsigned long>(hr));
  for (const Known& entry : known) {
    if (entry.value == hr) {
      return text + L" (" + entry.name + L")";
    }
  }
  return text;
}

std::wstring fromAnsi(const std::string& text, unsigned codePage) {
  if (text.empty()) {
    return {};
  }
  int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string toAnsi(const std::wstring& text, unsigned codePage) {
  if (text.empty()) {
    return {};
  }
  int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                      nullptr);
  return bytes;
}

}  // namespace host
