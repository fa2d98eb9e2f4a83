#pragma once
// What the exported functions do, callable in-process by tests.

#include <windows.h>

namespace server {

// DllCanUnloadNow: S_OK only while the module's lock count is exactly 0.
HRESULT canUnloadNow() noexcept;

// DllGetClassObject: the cached class object of a class in the table.
HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

}  // namespace server
