#pragma once
// The registrar: applies a registry script to the registry, to register or
// to unregister. The script is parsed completely before the first change; a
// registration that fails part-way is undone by running the failed root block
// as an unregistration before the error is returned.

#include <windows.h>

#include <cstddef>

#include "server/registry_script.h"

namespace server {

// The registry calls the registrar makes, each returning a Win32 error code.
// The real registry by default; tests substitute a subclass to observe the
// calls or to make one of them fail.
class RegistryAccess {
 public:
  // Opens the key, creating it when missing, for reading and writing.
  virtual LONG createKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept;
  // Opens an existing key for reading and writing.
  virtual LONG openKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept;
  // Deletes a subkey together with its whole subtree.
  virtual LONG deleteTree(HKEY parent, const wchar_t* name) noexcept;
  // Deletes a subkey that has no subkeys.
  virtual LONG deleteKey(HKEY parent, const wchar_t* name) noexcept;
  virtual LONG setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) noexcept;
  virtual LONG deleteValue(HKEY key, const wchar_t* name) noexcept;
  virtual LONG countSubkeys(HKEY key, DWORD* count) noexcept;

 protected:
  ~RegistryAccess() = default;
};

// The access in use; setRegistryAccess(nullptr) restores the real registry.
// Returns the previous one. Not thread-safe: a test seam.
RegistryAccess* setRegistryAccess(RegistryAccess* access) noexcept;

// Expands the replacements in `text`, parses it and applies it. A script that
// does not parse gives DISP_E_EXCEPTION and changes nothing.
HRESULT applyRegistryScript(const char16_t* text, std::size_t length, const script::Replacement* replacements,
                            std::size_t count, bool doRegister) noexcept;

// Reads the script resource (`resourceId`, `type`) from the file at `path`,
// loaded as a data file, converts it with the calling thread's ANSI code page
// and applies it.
HRESULT applyRegistryScriptResource(const wchar_t* path, UINT resourceId, const wchar_t* type,
                                    const script::Replacement* replacements, std::size_t count,
                                    bool doRegister) noexcept;

}  // namespace server
