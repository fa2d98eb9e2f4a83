#pragma once
// Self-registration from the registry scripts held as resources.

#include <windows.h>

namespace server {

// Resource ids of the registry scripts (type "REGISTRY").
constexpr UINT moduleScriptId = 101;
constexpr UINT cmdPromptScriptId = 102;

// A named text for a script's %NAME%; a list of them ends with a null name.
struct ReplacementPair {
  const char16_t* name;
  const char16_t* value;
};

// DllRegisterServer and DllUnregisterServer.
HRESULT registerServer() noexcept;
HRESULT unregisterServer() noexcept;

// registerClass of the CmdPrompt class entry: runs the class script.
HRESULT registerCmdPromptClass(BOOL doRegister) noexcept;

// Runs a script resource of this module's file with the given replacements
// (up to the first pair without a name; pairs without a value are skipped)
// and the module's own: "APPID", "Module" and "Module_Raw".
HRESULT runRegistryScript(UINT resourceId, BOOL doRegister, const ReplacementPair* replacements) noexcept;

}  // namespace server
