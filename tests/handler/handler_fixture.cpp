#include "handler_fixture.h"

#include <shellapi.h>

#include <cstring>

#include "handler/process_strings.h"

namespace handler {

std::vector<std::wstring> CmdPromptTestAccess::folders(IShellExtInit* init) {
  std::vector<std::wstring> out;
  const platform::WideStringList& list = object(init)->folders;
  for (size_t i = 0; i < list.size(); ++i) {
    out.emplace_back(list[i].c_str(), list[i].length());
  }
  return out;
}

}  // namespace handler

namespace handler_testing {

platform::ComPtr<IShellExtInit> createHandler() {
  platform::ComPtr<IShellExtInit> init;
  const HRESULT hr = handler::CmdPrompt::create(nullptr, IID_IShellExtInit, init.putVoid());
  EXPECT_HR(S_OK, hr);
  return init;
}

platform::UniqueItemIdList itemIdListOf(const std::wstring& path) {
  platform::UniqueItemIdList list(ILCreateFromPathW(path.c_str()));
  EXPECT_TRUE(list) << "no item-ID list for " << testing_support::narrow(path);
  return list;
}

STDMETHODIMP DropDataObject::QueryInterface(REFIID riid, void** ppv) {
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

// Owns the global memory of one medium: ReleaseStgMedium calls its Release
// instead of freeing the memory, so the test sees every medium released.
class DropDataObject::MediumOwner final : public IUnknown {
 public:
  MediumOwner(HGLOBAL memory, int& released) : memory_(memory), released_(released) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      GlobalFree(memory_);
      ++released_;
      delete this;
    }
    return left;
  }

 private:
  HGLOBAL memory_;
  int& released_;
  ULONG references_ = 1;
};

STDMETHODIMP DropDataObject::QueryGetData(FORMATETC* format) {
  return offersDrop_ && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) != 0 ? S_OK
                                                                                             : DV_E_FORMATETC;
}

STDMETHODIMP DropDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP DropDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  ++getDataCalls_;
  if (QueryGetData(format) != S_OK) {
    return DV_E_FORMATETC;
  }
  // DROPFILES, then each name with its terminator, then one more terminator.
  size_t units = 1;
  for (const std::wstring& name : names_) {
    units += name.size() + 1;
  }
  const size_t bytes = sizeof(DROPFILES) + units * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (memory == nullptr) {
    return E_OUTOFMEMORY;
  }
  auto drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto text = reinterpret_cast<wchar_t*>(drop + 1);
  for (const std::wstring& name : names_) {
    std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    text += name.size() + 1;
  }
  *text = L'\0';
  GlobalUnlock(memory);
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = memory;
  medium->pUnkForRelease = new MediumOwner(memory, releasedMedia_);
  return S_OK;
}

void setComspec(const wchar_t* value) {
  SetEnvironmentVariableW(L"comspec", value);
  handler::releaseProcessStrings();
}

ProbeInterpreter::ProbeInterpreter() {
  log_ = logFolder_.path() + L"\\probe.log";
  probe_ = testing_support::buildFile(L"command_probe.exe");
  EXPECT_FALSE(probe_.empty()) << "command_probe.exe not found above the test program";
  SetEnvironmentVariableW(L"DORVANEL_PROBE_LOG", log_.c_str());
  setComspec(probe_.c_str());
}

ProbeInterpreter::~ProbeInterpreter() {
  SetEnvironmentVariableW(L"DORVANEL_PROBE_LOG", nullptr);
  setComspec(nullptr);
}

std::vector<std::pair<std::wstring, std::wstring>> ProbeInterpreter::lines() const {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  HANDLE file = CreateFileW(log_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return out;
  }
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    bytes.append(chunk, read);
  }
  CloseHandle(file);
  int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  size_t start = 0;
  for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
    std::wstring line = text.substr(start, end - start);
    size_t tab = line.find(L'\t');
    out.emplace_back(line.substr(0, tab), tab == std::wstring::npos ? L"" : line.substr(tab + 1));
  }
  return out;
}

std::vector<std::pair<std::wstring, std::wstring>> ProbeInterpreter::waitForLines(size_t count) const {
  // A bounded poll: a probe that has not written within a minute never will.
  for (int attempt = 0; attempt < 1200; ++attempt) {
    auto found = lines();
    if (found.size() >= count) {
      return found;
    }
    Sleep(50);
  }
  auto found = lines();
  ADD_FAILURE() << "the command probe logged " << found.size() << " line(s), expected " << count;
  return found;
}

}  // namespace handler_testing
