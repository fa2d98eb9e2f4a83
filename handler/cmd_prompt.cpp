#include "handler/cmd_prompt.h"

#include <new>

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

// Placeholders until the construction step, folder intake and launch land.
HRESULT CmdPrompt::construct() noexcept { return S_OK; }

STDMETHODIMP CmdPrompt::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) noexcept { return E_NOTIMPL; }

STDMETHODIMP CmdPrompt::InvokeCommand(CMINVOKECOMMANDINFO*) noexcept { return E_NOTIMPL; }

}  // namespace handler
