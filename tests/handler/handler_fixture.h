#pragma once
// Helpers of the handler's test programs, which link the handler's code
// in-process (CORE): direct access to a handler's fields, a data object that
// serves a real drop list, and the command probe.

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "handler/cmd_prompt.h"
#include "platform/unique_resource.h"
#include "support/test_support.h"

namespace handler {

// Reads and sets the handler's fields for the tests.
struct CmdPromptTestAccess {
  static CmdPrompt* object(IUnknown* init) {
    return static_cast<CmdPrompt*>(static_cast<IShellExtInit*>(init));
  }
  static std::vector<std::wstring> folders(IShellExtInit* init);
  static bool uncCheckDisabled(IShellExtInit* init) { return object(init)->uncCheckDisabled; }
  static void setUncCheckDisabled(IShellExtInit* init, bool value) { object(init)->uncCheckDisabled = value; }
  static void setBrowseMode(IShellExtInit* init, bool value) { object(init)->browseMode = value; }
  static HBITMAP menuBitmap(IShellExtInit* init) { return object(init)->menuBitmap; }
  static LONG referenceCount(IShellExtInit* init) { return object(init)->referenceCount; }
};

}  // namespace handler

namespace handler_testing {

using Access = handler::CmdPromptTestAccess;

// A new handler through its creator, as the class object makes it.
platform::ComPtr<IShellExtInit> createHandler();

// The item-ID list of a real path; fails the test when there is none.
platform::UniqueItemIdList itemIdListOf(const std::wstring& path);

// A data object that offers exactly one format: a CF_HDROP list with wide
// names in global memory, a fresh copy for each GetData.
class DropDataObject final : public IDataObject {
 public:
  // With `offersDrop` false the object has no CF_HDROP data at all.
  explicit DropDataObject(std::vector<std::wstring> names, bool offersDrop = true)
      : names_(std::move(names)), offersDrop_(offersDrop) {}
  int getDataCalls() const { return getDataCalls_; }
  // Media handed out by GetData that their receiver has released since.
  int releasedMedia() const { return releasedMedia_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }  // lives on the test's stack
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  class MediumOwner;
  std::vector<std::wstring> names_;
  bool offersDrop_;
  ULONG references_ = 1;
  int getDataCalls_ = 0;
  int releasedMedia_ = 0;
};

// The log file of command_probe.exe; "comspec" names the probe and the
// handler's cached interpreter path is dropped, for the life of the object.
class ProbeInterpreter {
 public:
  ProbeInterpreter();
  ~ProbeInterpreter();
  const std::wstring& probePath() const { return probe_; }
  // Waits (bounded) until the probe has logged `count` lines and returns
  // them as {working folder, command line}; fails the test on time-out.
  std::vector<std::pair<std::wstring, std::wstring>> waitForLines(size_t count) const;
  // What the log holds right now.
  std::vector<std::pair<std::wstring, std::wstring>> lines() const;

 private:
  testing_support::TempFolder logFolder_;
  std::wstring log_;
  std::wstring probe_;
};

// Sets or removes ("comspec", nullptr) an environment variable and drops the
// handler's cached interpreter path, so that the next handler reads it anew.
void setComspec(const wchar_t* value);

}  // namespace handler_testing
