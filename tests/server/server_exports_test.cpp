// The in-process server as COM uses it: Dorvanel.DLL loaded with
// LoadLibraryW, its exports called through GetProcAddress. There is no
// export for the module's lock count; DllCanUnloadNow (S_OK only at exactly
// 0) shows it.

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

using testing_support::dllPath;
using testing_support::Hr;

namespace {

// {6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}
const CLSID CLSID_CmdPrompt = {0x6D0C4A27, 0x3B91, 0x4E58, {0x9F, 0x2A, 0x71, 0xC5, 0xE0, 0x8D, 0x3B, 0x46}};
// The same but for the last byte: a class the server does not serve.
const CLSID CLSID_Foreign = {0x6D0C4A27, 0x3B91, 0x4E58, {0x9F, 0x2A, 0x71, 0xC5, 0xE0, 0x8D, 0x3B, 0x47}};

void* const sentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// Releases and returns the count that Release reported.
ULONG release(IUnknown* object) { return object->Release(); }

// The DLL loaded and unloaded as COM does it.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(load()); }
  void TearDown() override { unload(); }

  void load() {
    const std::wstring path = dllPath();
    ASSERT_FALSE(path.empty()) << "Dorvanel.DLL not found above the test program";
    module_ = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module_) << "LoadLibraryW failed, error " << GetLastError();
    getClassObject_ = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject_);
    ASSERT_NE(nullptr, canUnloadNow_);
  }

  void unload() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
      module_ = nullptr;
    }
  }

  HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return getClassObject_(rclsid, riid, ppv);
  }
  HRESULT canUnloadNow() { return canUnloadNow_(); }

  // The class factory of CmdPrompt, with one client reference.
  IClassFactory* factory() {
    IClassFactory* factory = nullptr;
    const HRESULT hr = getClassObject(CLSID_CmdPrompt, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    EXPECT_HR(S_OK, hr);
    return factory;
  }

  HMODULE module_ = nullptr;
  GetClassObjectFunction getClassObject_ = nullptr;
  CanUnloadNowFunction canUnloadNow_ = nullptr;
};

// A controlling object for aggregation attempts; the server must not keep it.
class OuterObject : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    if (*ppv == nullptr) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++count; }
  STDMETHODIMP_(ULONG) Release() override { return --count; }
  ULONG count = 1;
};

TEST_F(ServerTest, LiveHandlerObjectsHoldTheModule) {
  EXPECT_HR(S_OK, canUnloadNow()) << "right after load";

  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  IShellExtInit* first = nullptr;
  IContextMenu* second = nullptr;
  ASSERT_HR(S_OK, classFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&first)));
  ASSERT_HR(S_OK, classFactory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&second)));
  EXPECT_EQ(1u, release(classFactory)) << "the class table keeps its own reference";

  EXPECT_HR(S_FALSE, canUnloadNow()) << "two handlers alive";
  EXPECT_EQ(0u, release(first));
  EXPECT_HR(S_FALSE, canUnloadNow()) << "one handler alive";
  EXPECT_EQ(0u, release(second));
  EXPECT_HR(S_OK, canUnloadNow()) << "all handlers released";
}

TEST_F(ServerTest, ClientReferencesToTheClassObjectCountOnce) {
  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow()) << "one client reference";

  EXPECT_EQ(3u, classFactory->AddRef());
  IUnknown* again = nullptr;
  ASSERT_HR(S_OK, getClassObject(CLSID_CmdPrompt, IID_IUnknown, reinterpret_cast<void**>(&again)));
  EXPECT_EQ(static_cast<IUnknown*>(classFactory), again);
  EXPECT_HR(S_FALSE, canUnloadNow()) << "three client references";

  EXPECT_EQ(3u, release(again));
  EXPECT_EQ(2u, release(classFactory));
  EXPECT_HR(S_FALSE, canUnloadNow()) << "one client reference left";
  EXPECT_EQ(1u, release(classFactory));
  EXPECT_HR(S_OK, canUnloadNow()) << "only the class table's reference left";

  // Taking and dropping a client reference again moves the count again.
  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow());
  EXPECT_EQ(1u, release(classFactory));
  EXPECT_HR(S_OK, canUnloadNow());
}

TEST_F(ServerTest, LockServerPairsAndAnUnmatchedUnlock) {
  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(TRUE));
  EXPECT_HR(S_OK, classFactory->LockServer(7));
  release(classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow()) << "two server locks";

  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(FALSE));
  release(classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow()) << "one server lock";

  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(FALSE));
  release(classFactory);
  EXPECT_HR(S_OK, canUnloadNow()) << "locks paired";

  // One unlock too many takes the count below 0, which is not "unused".
  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(FALSE));
  release(classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow()) << "count below 0";

  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(TRUE));
  release(classFactory);
  EXPECT_HR(S_OK, canUnloadNow()) << "balanced again";
}

TEST_F(ServerTest, EveryRequestGetsTheOneClassObject) {
  IClassFactory* first = factory();
  IClassFactory* second = factory();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);

  IUnknown* identity = nullptr;
  ASSERT_HR(S_OK, first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
  EXPECT_EQ(static_cast<IUnknown*>(first), identity);
  release(identity);

  void* result = sentinel;
  EXPECT_HR(E_NOINTERFACE, first->QueryInterface(IID_IContextMenu, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_HR(E_POINTER, first->QueryInterface(IID_IClassFactory, nullptr));

  EXPECT_EQ(2u, release(second));
  EXPECT_EQ(1u, release(first));
}

TEST_F(ServerTest, AnInterfaceTheClassObjectLacksLeavesItCached) {
  void* result = sentinel;
  EXPECT_HR(E_NOINTERFACE, getClassObject(CLSID_CmdPrompt, IID_IContextMenu, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_HR(S_OK, canUnloadNow()) << "the failed request took no client reference";

  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  IUnknown* handler = nullptr;
  EXPECT_HR(S_OK, classFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&handler)));
  if (handler != nullptr) {
    release(handler);
  }
  EXPECT_EQ(1u, release(classFactory)) << "the class table still holds the object";
  EXPECT_HR(S_OK, canUnloadNow());
}

TEST_F(ServerTest, RequestsThatCannotBeAnswered) {
  void* result = sentinel;
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, getClassObject(CLSID_Foreign, IID_IClassFactory, &result));
  EXPECT_EQ(nullptr, result);
  result = sentinel;
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, getClassObject(GUID_NULL, IID_IUnknown, &result));
  EXPECT_EQ(nullptr, result);

  EXPECT_HR(E_POINTER, getClassObject(CLSID_CmdPrompt, IID_IClassFactory, nullptr));
  EXPECT_HR(E_POINTER, getClassObject(CLSID_Foreign, IID_IClassFactory, nullptr));
  EXPECT_HR(S_OK, canUnloadNow());
}

TEST_F(ServerTest, CreateInstanceRefusesAggregationAndForeignInterfaces) {
  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  OuterObject outer;

  struct Case {
    const char* name;
    const IID* iid;
  };
  for (const Case& c : {Case{"IUnknown", &IID_IUnknown}, Case{"IShellExtInit", &IID_IShellExtInit},
                        Case{"IContextMenu", &IID_IContextMenu}}) {
    void* result = sentinel;
    EXPECT_HR(CLASS_E_NOAGGREGATION, classFactory->CreateInstance(&outer, *c.iid, &result)) << c.name;
    EXPECT_EQ(nullptr, result) << c.name;
  }
  EXPECT_EQ(1u, outer.count) << "the outer object was kept";

  void* result = sentinel;
  EXPECT_HR(E_NOINTERFACE, classFactory->CreateInstance(nullptr, IID_IClassFactory, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_HR(E_POINTER, classFactory->CreateInstance(nullptr, IID_IShellExtInit, nullptr));
  EXPECT_HR(E_POINTER, classFactory->CreateInstance(&outer, IID_IUnknown, nullptr));

  EXPECT_EQ(1u, release(classFactory));
  EXPECT_HR(S_OK, canUnloadNow()) << "a refused creation leaves no object behind";
}

// Host threads asking for the class object and making handlers at once, on
// a freshly loaded DLL so that the first requests race to make the object.
TEST_F(ServerTest, ConcurrentRequestsShareOneClassObject) {
  constexpr int threadCount = 8;
  constexpr int rounds = 40;
  struct Outcome {
    std::vector<void*> classObjects;
    int failures = 0;
    HRESULT firstFailure = S_OK;
  };
  std::vector<Outcome> outcomes(threadCount);
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, start);

  auto work = [&](Outcome& outcome) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WaitForSingleObject(start, INFINITE);
    auto fail = [&outcome](HRESULT hr) {
      if (outcome.failures++ == 0) {
        outcome.firstFailure = hr;
      }
    };
    for (int round = 0; round < rounds; ++round) {
      IClassFactory* classFactory = nullptr;
      HRESULT hr =
          getClassObject(CLSID_CmdPrompt, IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
      if (FAILED(hr) || classFactory == nullptr) {
        fail(hr);
        continue;
      }
      outcome.classObjects.push_back(classFactory);
      IContextMenu* menu = nullptr;
      hr = classFactory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu));
      if (FAILED(hr) || menu == nullptr) {
        fail(hr);
      }
      classFactory->Release();
      if (menu != nullptr) {
        menu->Release();
      }
    }
    if (SUCCEEDED(init)) {
      CoUninitialize();
    }
  };

  std::vector<std::thread> threads;
  for (Outcome& outcome : outcomes) {
    threads.emplace_back(work, std::ref(outcome));
  }
  SetEvent(start);
  for (std::thread& thread : threads) {
    thread.join();
  }
  CloseHandle(start);

  void* classObject = outcomes[0].classObjects.empty() ? nullptr : outcomes[0].classObjects[0];
  ASSERT_NE(nullptr, classObject);
  for (int i = 0; i < threadCount; ++i) {
    EXPECT_EQ(0, outcomes[i].failures)
        << "thread " << i << ", first failure " << ::testing::PrintToString(Hr{outcomes[i].firstFailure});
    for (void* seen : outcomes[i].classObjects) {
      EXPECT_EQ(classObject, seen) << "thread " << i;
    }
  }
  EXPECT_HR(S_OK, canUnloadNow()) << "the lock count came back to 0";
  IClassFactory* classFactory = factory();
  EXPECT_EQ(classObject, classFactory);
  ASSERT_NE(nullptr, classFactory);
  EXPECT_EQ(1u, release(classFactory)) << "only the class table's reference is left";
}

TEST_F(ServerTest, UnloadAndReloadStartAfresh) {
  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  EXPECT_HR(S_OK, classFactory->LockServer(TRUE));
  release(classFactory);
  EXPECT_HR(S_FALSE, canUnloadNow());

  // The DLL goes although it is locked: FreeLibrary does not ask.
  unload();
  EXPECT_EQ(nullptr, GetModuleHandleW(dllPath().c_str())) << "the DLL is still loaded";

  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_HR(S_OK, canUnloadNow()) << "a new load starts with the count at 0";
  classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  IShellExtInit* handler = nullptr;
  EXPECT_HR(S_OK,
            classFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&handler)));
  EXPECT_EQ(1u, release(classFactory));
  ASSERT_NE(nullptr, handler);
  EXPECT_HR(S_FALSE, canUnloadNow());
  release(handler);
  EXPECT_HR(S_OK, canUnloadNow());
}

// Sets an environment variable for the test's duration.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[32768];
    DWORD length = GetEnvironmentVariableW(name, old, 32768);
    hadValue_ = length > 0 && length < 32768;
    if (hadValue_) {
      old_.assign(old, length);
    }
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, hadValue_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::wstring old_;
  bool hadValue_ = false;
};

std::wstring widen(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

// The probe's log once it holds a whole line, or "" after about 30 seconds.
std::wstring waitForProbeLine(const std::wstring& log) {
  for (int attempt = 0; attempt < 300; ++attempt) {
    std::string text;
    HANDLE file =
        CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char buffer[4096];
      DWORD read = 0;
      while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
      }
      CloseHandle(file);
    }
    if (text.find('\n') != std::string::npos) {
      return widen(text);
    }
    Sleep(100);
  }
  return {};
}

// An object made through the class object, driven as the shell drives a
// handler: the console starts in the folder the shell named.
TEST_F(ServerTest, ObjectFromTheClassObjectWorksAsAHandler) {
  const std::wstring probe = testing_support::buildFile(L"command_probe.exe");
  ASSERT_FALSE(probe.empty()) << "command_probe.exe not found";
  testing_support::TempFolder temp;
  const std::wstring target = temp.makeFolder(L"target folder");
  const std::wstring log = temp.path() + L"\\probe.log";
  // Before the first handler of this load, which caches the interpreter.
  ScopedEnvironment comspec(L"comspec", probe);
  ScopedEnvironment probeLog(L"DORVANEL_PROBE_LOG", log);

  IClassFactory* classFactory = factory();
  ASSERT_NE(nullptr, classFactory);
  IShellExtInit* init = nullptr;
  ASSERT_HR(S_OK, classFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)));
  release(classFactory);
  ASSERT_NE(nullptr, init);

  PIDLIST_ABSOLUTE folder = ILCreateFromPathW(target.c_str());
  ASSERT_NE(nullptr, folder) << testing_support::narrow(target);
  const HRESULT initialized = init->Initialize(folder, nullptr, nullptr);
  ILFree(folder);
  EXPECT_HR(S_OK, initialized);

  IContextMenu* menu = nullptr;
  ASSERT_HR(S_OK, init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)));
  CMINVOKECOMMANDINFO invoke = {};
  invoke.cbSize = sizeof invoke;
  invoke.lpVerb = MAKEINTRESOURCEA(0);
  invoke.nShow = SW_SHOWNORMAL;
  const HRESULT invoked = menu->InvokeCommand(&invoke);
  EXPECT_HR(S_OK, invoked);
  release(menu);
  EXPECT_EQ(0u, release(init));
  EXPECT_HR(S_OK, canUnloadNow());

  if (SUCCEEDED(initialized) && SUCCEEDED(invoked)) {
    const std::wstring line = waitForProbeLine(log);
    ASSERT_FALSE(line.empty()) << "the interpreter did not start within 30 seconds";
    const std::wstring workingFolder = line.substr(0, line.find(L'\t'));
    EXPECT_EQ(0, lstrcmpiW(target.c_str(), workingFolder.c_str()))
        << "started in " << testing_support::narrow(workingFolder);
  }
}

}  // namespace
