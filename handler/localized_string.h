#pragma once
// The handler's user-visible texts from the string table, in the language
// version that Windows selects for the calling thread.

#include <windows.h>

#include "platform/wide_string.h"

namespace handler {

// String-table ids of the handler's texts.
constexpr UINT menuTextId = 101;
constexpr UINT helpTextId = 102;
constexpr UINT browseHelpTextId = 103;

// Sets `text` to the entry `id` of the string table, or to an empty text when
// no version of the table has a non-empty entry for it. Fails only for lack
// of memory (E_OUTOFMEMORY), leaving `text` empty.
HRESULT loadLocalizedString(UINT id, platform::WideString& text) noexcept;

// Copies `text` into the caller's ANSI buffer of `cchMax` bytes, converted to
// `codePage`, truncated like lstrcpynA. The conversion may take at most two
// bytes per character; when it fails the buffer receives an empty string.
// Fails only for lack of memory, and then writes nothing.
HRESULT copyAnsiText(const wchar_t* text, char* buffer, UINT cchMax, UINT codePage = CP_THREAD_ACP) noexcept;

}  // namespace handler
