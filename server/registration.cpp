// Self-registration from the registry scripts held as resources.

#include "server/registration.h"

#include <comcat.h>

#include <cstddef>

#include "platform/result.h"
#include "platform/unique_resource.h"
#include "server/class_table.h"
#include "server/module.h"
#include "server/registrar.h"
#include "server/registry_script.h"

namespace server {
namespace {

// The module's application identifier, offered to the scripts as "APPID".
constexpr char16_t moduleAppId[] = u"{ACABD2B2-AC49-48F3-948B-C4AFCBED41EB}";
const ReplacementPair appIdOnly[] = {{u"APPID", moduleAppId}, {nullptr, nullptr}};

constexpr DWORD pathCapacity = MAX_PATH;               // the module path, terminator included
constexpr std::size_t escapedCapacity = 2 * MAX_PATH;  // room for every quote doubled

std::size_t textLength(const char16_t* text) noexcept {
  std::size_t length = 0;
  while (text[length] != u'\0') {
    ++length;
  }
  return length;
}

script::Replacement replacement(const char16_t* name, const char16_t* value) noexcept {
  return script::Replacement{name, textLength(name), value, textLength(value)};
}

// Runs the scripts in the system's default locale, whose ANSI code page
// converts them, and gives the calling thread its own locale back.
class SystemLocaleScope {
 public:
  SystemLocaleScope() noexcept : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemLocaleScope() { SetThreadLocale(saved_); }
  SystemLocaleScope(const SystemLocaleScope&) = delete;
  SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

 private:
  LCID saved_;
};

// Registers or unregisters the component categories a class implements (a
// list ended by GUID_NULL); nothing to do for a class without any.
HRESULT updateCategories(const ClassEntry& entry, bool doRegister) noexcept {
  const CATID* list = entry.categories != nullptr ? entry.categories() : nullptr;
  if (list == nullptr) {
    return S_OK;
  }
  ULONG count = 0;
  while (!IsEqualGUID(list[count], GUID_NULL)) {
    ++count;
  }
  if (count == 0) {
    return S_OK;
  }
  platform::ComPtr<ICatRegister> categories;
  RETURN_IF_FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICatRegister, categories.putVoid()));
  CATID* ids = const_cast<CATID*>(list);
  return doRegister ? categories->RegisterClassImplCategories(*entry.classId, count, ids)
                    : categories->UnRegisterClassImplCategories(*entry.classId, count, ids);
}

}  // namespace

HRESULT runRegistryScript(UINT resourceId, BOOL doRegister, const ReplacementPair* replacements) noexcept {
  std::size_t given = 0;
  while (replacements != nullptr && replacements[given].name != nullptr) {
    ++given;
  }
  platform::HeapArray<script::Replacement> set;
  RETURN_IF_FAILED(set.allocate(given + 3));
  std::size_t count = 0;
  for (std::size_t i = 0; i < given; ++i) {
    if (replacements[i].value != nullptr) {
      set[count++] = replacement(replacements[i].name, replacements[i].value);
    }
  }
  set[count++] = replacement(u"APPID", moduleAppId);

  char16_t path[pathCapacity];
  const DWORD length = GetModuleFileNameW(moduleInstance(), reinterpret_cast<wchar_t*>(path), pathCapacity);
  RETURN_LAST_ERROR_IF_FALSE(length != 0);
  if (length >= pathCapacity) {
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);  // the path did not fit
  }
  // The path stands inside a quoted string of the script.
  char16_t escaped[escapedCapacity];
  script::escapeSingleQuotes(escaped, escapedCapacity, path);
  set[count++] = replacement(u"Module", escaped);
  set[count++] = replacement(u"Module_Raw", escaped);

  return applyRegistryScriptResource(reinterpret_cast<const wchar_t*>(path), resourceId, L"REGISTRY",
                                     set.get(), count, doRegister != FALSE);
}

HRESULT registerCmdPromptClass(BOOL doRegister) noexcept {
  return runRegistryScript(cmdPromptScriptId, doRegister, nullptr);
}

HRESULT registerServer() noexcept {
  SystemLocaleScope locale;
  HRESULT hr = runRegistryScript(moduleScriptId, TRUE, appIdOnly);
  for (std::size_t i = 0; i < classTableSize() && SUCCEEDED(hr); ++i) {
    const ClassEntry& entry = classTable()[i];
    if (entry.registerClass != nullptr) {
      hr = entry.registerClass(TRUE);
    }
    if (SUCCEEDED(hr)) {
      hr = updateCategories(entry, true);
    }
  }
  return hr;
}

HRESULT unregisterServer() noexcept {
  SystemLocaleScope locale;
  HRESULT hr = S_OK;
  for (std::size_t i = 0; i < classTableSize() && SUCCEEDED(hr); ++i) {
    const ClassEntry& entry = classTable()[i];
    hr = updateCategories(entry, false);
    if (SUCCEEDED(hr) && entry.registerClass != nullptr) {
      hr = entry.registerClass(FALSE);
    }
  }
  if (SUCCEEDED(hr)) {
    hr = runRegistryScript(moduleScriptId, FALSE, appIdOnly);
  }
  return hr;
}

}  // namespace server
