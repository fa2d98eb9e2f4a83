#pragma once
// Test helpers: the registry read back through the real API, and the class's
// registration as the scripts should leave it.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace registry_test {

inline constexpr const wchar_t* classId = L"{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}";
inline constexpr const wchar_t* classKey = L"CLSID\\{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}";

// The four handler keys under HKCR.
const std::vector<std::wstring>& handlerKeys();
// The parents the scripts mark NoRemove, which unregistration keeps.
const std::vector<std::wstring>& sharedKeys();

// Every key and value below `path` (itself included) as "sub\\key" -> "" for
// a key and "sub\\key:name" -> "TYPE data" for a value ("" names the default
// value); the paths relative to `path`. Empty when the key is missing.
using Snapshot = std::map<std::wstring, std::wstring>;
Snapshot snapshot(HKEY root, const std::wstring& path);

// The class key and the four handler keys, each under its own path.
Snapshot registrationSnapshot();
// What registration of a module at `modulePath` leaves there.
Snapshot expectedRegistration(const std::wstring& modulePath);

bool keyExists(HKEY root, const std::wstring& path);
// Removes the class key and the handler keys, so that a test starts clean.
void removeRegistration();

std::string describe(const Snapshot& snapshot);

}  // namespace registry_test
