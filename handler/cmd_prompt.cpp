#include "handler/cmd_prompt.h"

#include <shellapi.h>

#include <new>

#include "handler/menu_bitmap.h"
#include "handler/process_strings.h"
#include "platform/result.h"
#include "platform/unique_resource.h"
#include "server/module.h"

namespace handler {

CmdPrompt::CmdPrompt() noexcept { server::lockModule(); }

CmdPrompt::~CmdPrompt() {
  if (menuBitmap != nullptr) {
    DeleteObject(menuBitmap);
    menuBitmap = nullptr;
  }
  server::unlockModule();
}

HRESULT CmdPrompt::create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (outer != nullptr) {
    return CLASS_E_NOAGGREGATION;
  }
  auto object = new (std::nothrow) CmdPrompt();
  if (object == nullptr) {
    return E_OUTOFMEMORY;
  }
  // Hold a reference while constructing so that a failure below destroys it.
  object->AddRef();
  HRESULT hr = object->construct();
  if (SUCCEEDED(hr)) {
    hr = object->QueryInterface(riid, ppv);
  }
  object->Release();
  return hr;
}

STDMETHODIMP CmdPrompt::QueryInterface(REFIID riid, void** ppv) noexcept {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellExtInit)) {
    *ppv = static_cast<IShellExtInit*>(this);
  } else if (IsEqualIID(riid, IID_IContextMenu)) {
    *ppv = static_cast<IContextMenu*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CmdPrompt::AddRef() noexcept { return static_cast<ULONG>(++referenceCount); }

STDMETHODIMP_(ULONG) CmdPrompt::Release() noexcept {
  const LONG remaining = --referenceCount;
  if (remaining == 0) {
    delete this;
  }
  return static_cast<ULONG>(remaining);
}

#ifndef _WIN64
static_assert(sizeof(SHFILEINFOW) == 692, "SHFILEINFOW as the shell lays it out");
#endif

HRESULT CmdPrompt::construct() noexcept {
  RETURN_IF_FAILED(cacheComspecPath());
  // The system's small-icon image list and the interpreter's index in it;
  // asked also with an empty path, when it simply fails.
  SHFILEINFOW info{};
  const auto imageList = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(
      comspecPath(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_ICON | SHGFI_SMALLICON));
  // The bitmap is drawn from the image list; this icon is only a by-product.
  const platform::UniqueIcon icon(info.hIcon);
  menuBitmap = drawMenuBitmap(imageList, info.iIcon);
  return S_OK;
}

}  // namespace handler
