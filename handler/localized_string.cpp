#include "handler/localized_string.h"

#include <cstdint>

#include "handler/string_table_block.h"
#include "platform/memory.h"
#include "platform/result.h"
#include "platform/unique_resource.h"
#include "server/module.h"

namespace handler {
namespace {

// Loads a located block and finds the entry at `index` in it.
bool findEntry(HMODULE module, HRSRC resource, unsigned index, const std::uint8_t** block,
               StringTableEntry* entry) noexcept {
  if (resource == nullptr) {
    return false;
  }
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) {
    return false;
  }
  auto bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
  const DWORD size = SizeofResource(module, resource);
  if (bytes == nullptr || size == 0) {
    return false;
  }
  *block = bytes;
  return findStringTableEntry(bytes, size, index, entry);
}

}  // namespace

HRESULT loadLocalizedString(UINT id, platform::WideString& text) noexcept {
  text.clear();
  const unsigned block = stringTableBlock(id);
  const unsigned index = stringTableIndex(id);
  if (block > 0xFFFF) {
    return S_OK;  // no resource name can hold it
  }
  LPCWSTR blockName = MAKEINTRESOURCEW(block);

  // The first of the server's resource modules whose version of the block
  // holds a non-empty entry.
  HMODULE chosen = nullptr;
  for (std::size_t i = 0; HMODULE module = server::resourceModule(i); ++i) {
    // Language 0 lets Windows choose the version for the calling thread.
    const std::uint8_t* bytes = nullptr;
    StringTableEntry entry;
    if (findEntry(module, FindResourceExW(module, RT_STRING, blockName, 0), index, &bytes, &entry)) {
      chosen = module;
      break;
    }
  }
  if (chosen == nullptr) {
    return S_OK;
  }

  const std::uint8_t* bytes = nullptr;
  StringTableEntry entry;
  if (!findEntry(chosen, FindResourceW(chosen, blockName, RT_STRING), index, &bytes, &entry)) {
    return S_OK;
  }
  // Resource data is DWORD-aligned and the entry's offset even, so the units
  // can be read in place.
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
  return text.assign(reinterpret_cast<const wchar_t*>(bytes + entry.offset), entry.count);
}

HRESULT copyAnsiText(const wchar_t* text, char* buffer, UINT cchMax, UINT codePage) noexcept {
  std::size_t length = 0;
  while (text[length] != L'\0') {
    ++length;
  }
  // Room for two bytes per character and the terminator; the handler's texts
  // are short, so the stack holds them and only a longer text takes the heap.
  constexpr std::size_t stackBytes = 256;
  char stackBuffer[stackBytes];
  char* converted = stackBuffer;
  platform::UniqueHeapBlock heapBuffer;

  bool convertedOk = false;
  if (length < 0x3FFFFFFF) {
    const std::size_t bytes = 2 * (length + 1);
    if (bytes > stackBytes) {
      heapBuffer.reset(platform::allocate(bytes));
      RETURN_IF_NULL_ALLOC(heapBuffer.get());
      converted = static_cast<char*>(heapBuffer.get());
    }
    convertedOk = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length + 1), converted,
                                      static_cast<int>(bytes), nullptr, nullptr) != 0;
  }
  // A text that does not convert (a code page that needs more than two bytes
  // for a character) arrives as an empty string rather than as whatever the
  // failed conversion left behind.
  lstrcpynA(buffer, convertedOk ? converted : "", static_cast<int>(cchMax));
  return S_OK;
}

}  // namespace handler
