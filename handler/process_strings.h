#pragma once
// The two process-wide strings shared by all handler objects.

#include <windows.h>

namespace handler {

// The command interpreter's full path from "comspec"; L"" until a handler's
// construction finds the variable set. Never null. Once set it stays for the
// life of the module, so the pointer may be kept while the module is loaded.
const wchar_t* comspecPath() noexcept;

// Fills comspecPath from the environment variable "comspec" when it is still
// empty; a missing or empty variable leaves it empty for the next try. Safe
// when several threads call it at once: the first complete path published
// wins and readers see either L"" or that whole path. Fails only for lack of
// memory.
HRESULT cacheComspecPath() noexcept;

// The handler's language-independent verb, "Dorvanel". Never null.
const wchar_t* verbName() noexcept;

// Module load and unload: comspecPath starts empty and verbName is set; both
// are released at unload. createProcessStrings fails only for lack of memory.
HRESULT createProcessStrings() noexcept;
void releaseProcessStrings() noexcept;

}  // namespace handler
