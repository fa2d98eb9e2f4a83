#include "host/drop_data_object.h"

#include <shlobj.h>

#include <cstring>
#include <new>

namespace host {
namespace {

class DropDataObject final : public IDataObject {
 public:
  explicit DropDataObject(const std::vector<std::wstring>& paths) : paths_(paths) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
    }
    return left;
  }

  // Each call hands out a fresh DROPFILES block that the caller frees with
  // ReleaseStgMedium (no release object).
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format == nullptr || medium == nullptr) {
      return E_INVALIDARG;
    }
    if (HRESULT hr = QueryGetData(format); hr != S_OK) {
      return hr;
    }
    HGLOBAL memory = buildDropFiles();
    if (memory == nullptr) {
      return E_OUTOFMEMORY;
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override {
    if (format == nullptr) {
      return E_INVALIDARG;
    }
    if (format->cfFormat != CF_HDROP) {
      return DV_E_FORMATETC;
    }
    if ((format->tymed & TYMED_HGLOBAL) == 0) {
      return DV_E_TYMED;
    }
    if (format->dwAspect != DVASPECT_CONTENT) {
      return DV_E_DVASPECT;
    }
    if (format->lindex != -1) {
      return DV_E_LINDEX;
    }
    return S_OK;
  }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out != nullptr) {
      out->ptd = nullptr;
    }
    return DATA_S_SAMEFORMATETC;
  }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    if (out == nullptr) {
      return E_POINTER;
    }
    *out = nullptr;
    if (direction != DATADIR_GET) {
      return E_NOTIMPL;
    }
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(1, &format, out);
  }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~DropDataObject() = default;

  // DROPFILES, then each path with its null, then one more null: the wide
  // form of a file drop list.
  HGLOBAL buildDropFiles() const {
    size_t characters = 1;
    for (const std::wstring& path : paths_) {
      characters += path.size() + 1;
    }
    size_t bytes = sizeof(DROPFILES) + characters * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (memory == nullptr) {
      return nullptr;
    }
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    if (drop == nullptr) {
      GlobalFree(memory);
      return nullptr;
    }
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const std::wstring& path : paths_) {
      std::memcpy(names, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
      names += path.size() + 1;
    }
    *names = L'\0';
    GlobalUnlock(memory);
    return memory;
  }

  LONG references_ = 1;
  std::vector<std::wstring> paths_;
};

}  // namespace

IDataObject* createDropDataObject(const std::vector<std::wstring>& paths) {
  return new (std::nothrow) DropDataObject(paths);
}

}  // namespace host
