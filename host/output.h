#pragma once
// Text output of the host: wide text to a console as it is, to a pipe or a
// file as UTF-8, so that the output reads the same under Wine and in tests.

#include <string>

namespace host {

void out(const std::wstring& text);  // to standard output
void err(const std::wstring& text);  // to standard error

std::wstring hex(unsigned long value, int digits = 8);
std::wstring hresultText(long hr);  // "0x80070057 (E_INVALIDARG)"
std::wstring fromAnsi(const std::string& text, unsigned codePage);
std::string toAnsi(const std::wstring& text, unsigned codePage);

}  // namespace host
