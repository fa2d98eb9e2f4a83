#pragma once
// The two process-wide strings shared by all handler objects.

#include <windows.h>

namespace handler {

// The command interpreter's full path from "comspec"; L"" until a handler's
// construction finds the variable set. Never null.
const wchar_t* comspecPath() noexcept;

// The handler's language-independent verb, "Dorvanel". Never null.
const wchar_t* verbName() noexcept;

// Module load and unload: comspecPath starts empty and verbName is set; both
// are released at unload. createProcessStrings fails only for lack of memory.
HRESULT createProcessStrings() noexcept;
void releaseProcessStrings() noexcept;

}  // namespace handler
