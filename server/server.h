#pragma once
// What the exported functions do, callable in-process by tests.

#include <windows.h>

namespace server {

// DllCanUnloadNow: S_OK only while the module's lock count is exactly 0
// (S_FALSE also when unbalanced unlocks took it below 0).
HRESULT canUnloadNow() noexcept;

// DllGetClassObject: the cached class object of a class in the table, made
// on the first request. E_UNEXPECTED while the class table is not ready.
HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

}  // namespace server
