#pragma once
// Self-registration from the registry scripts held as resources.

#include <windows.h>

namespace server {

// DllRegisterServer and DllUnregisterServer.
HRESULT registerServer() noexcept;
HRESULT unregisterServer() noexcept;

// registerClass of the CmdPrompt class entry: runs the class script.
HRESULT registerCmdPromptClass(BOOL doRegister) noexcept;

}  // namespace server
