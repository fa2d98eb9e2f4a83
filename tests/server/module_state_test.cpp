// Load-time set-up and unload-time release of the module's state, run
// in-process so that a lock or a class object can be made to fail for lack
// of memory, which the real API cannot be asked to do.

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "server/class_object.h"
#include "server/class_table.h"
#include "server/module.h"
#include "server/server.h"
#include "support/test_support.h"

namespace {

// Each test starts from a fresh load of the program's own module state and
// leaves one behind for the next.
class ModuleState : public ::testing::Test {
 protected:
  void SetUp() override {
    server::releaseModule();
    instance_ = GetModuleHandleW(nullptr);
  }
  void TearDown() override {
    platform::failAllocationAfter(-1);
    server::releaseModule();
    ASSERT_TRUE(server::initializeModule(instance_));
  }

  HINSTANCE instance_ = nullptr;
};

TEST_F(ModuleState, LoadMakesTheStateItReleases) {
  ASSERT_TRUE(server::initializeModule(instance_));
  EXPECT_EQ(instance_, server::moduleInstance());
  EXPECT_EQ(instance_, server::resourceModule(0));
  EXPECT_EQ(nullptr, server::resourceModule(1));
  EXPECT_EQ(0, server::lockCount());

  IClassFactory* factory = nullptr;
  ASSERT_HR(S_OK, server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory)));
  factory->Release();
  EXPECT_NE(nullptr, server::classTable()[0].cachedClassObject);

  server::releaseModule();
  EXPECT_EQ(nullptr, server::classTable()[0].cachedClassObject);
  EXPECT_EQ(nullptr, server::moduleInstance());
  EXPECT_EQ(nullptr, server::resourceModule(0));
  void* result = nullptr;
  EXPECT_HR(E_UNEXPECTED, server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory, &result));
  server::releaseModule();  // a second release finds nothing to do
}

// A lock that cannot be made fails the load, the remaining steps still run,
// and the release copes with the missing lock.
TEST_F(ModuleState, LockThatCannotBeMadeFailsTheLoad) {
  struct Case {
    const char* lock;
    long successesBefore;  // allocations that succeed before the failing one
    bool classTableReady;
  };
  for (const Case& c : {Case{"resource-module lock", 0, true}, Case{"class-table lock", 1, false}}) {
    SCOPED_TRACE(c.lock);
    server::lockModule();  // a count left over from an earlier load
    platform::failAllocationAfter(c.successesBefore);
    EXPECT_FALSE(server::initializeModule(instance_));
    platform::failAllocationAfter(-1);
    EXPECT_EQ(0, server::lockCount()) << "the steps after the failing one still ran";

    void* result = reinterpret_cast<void*>(1);
    const HRESULT hr = server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory, &result);
    if (c.classTableReady) {
      EXPECT_HR(S_OK, hr);
      static_cast<IUnknown*>(result)->Release();
    } else {
      EXPECT_HR(E_UNEXPECTED, hr);
      EXPECT_EQ(reinterpret_cast<void*>(1), result) << "nothing is touched before the table is ready";
    }
    server::releaseModule();
  }
  EXPECT_TRUE(server::initializeModule(instance_)) << "a load after the failures";
}

TEST_F(ModuleState, ClassObjectThatCannotBeMadeIsTriedAgain) {
  ASSERT_TRUE(server::initializeModule(instance_));
  void* result = reinterpret_cast<void*>(1);
  platform::failAllocationAfter(0);
  EXPECT_HR(E_OUTOFMEMORY, server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory, &result));
  platform::failAllocationAfter(-1);
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ(nullptr, server::classTable()[0].cachedClassObject);
  EXPECT_HR(S_OK, server::canUnloadNow());

  IClassFactory* factory = nullptr;
  ASSERT_HR(S_OK, server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory)));
  EXPECT_EQ(server::classTable()[0].cachedClassObject, static_cast<IUnknown*>(factory));
  EXPECT_EQ(1u, factory->Release());
}

// The table's reference goes at unload; a client's reference outlives it.
TEST_F(ModuleState, UnloadDropsOnlyTheTablesReference) {
  ASSERT_TRUE(server::initializeModule(instance_));
  IClassFactory* factory = nullptr;
  ASSERT_HR(S_OK, server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory)));
  EXPECT_EQ(1, server::lockCount()) << "a client holds the class object";
  EXPECT_EQ(3u, factory->AddRef());
  EXPECT_EQ(1, server::lockCount()) << "two client references count once";
  EXPECT_EQ(2u, factory->Release());
  server::releaseModule();
  EXPECT_EQ(0, server::lockCount()) << "the client's reference is now the only one";
  EXPECT_EQ(2u, factory->AddRef());
  EXPECT_EQ(1u, factory->Release());
  EXPECT_EQ(0u, factory->Release());
}

// A class-object maker that stops half-way until the test lets it go, so that
// other requests arrive while the first object is being made.
struct SlowMaker {
  static inline std::atomic<int> calls{0};
  static inline HANDLE entered = nullptr;
  static inline HANDLE proceed = nullptr;

  static HRESULT make(server::InstanceCreator creator, REFIID riid, void** ppv) noexcept {
    ++calls;
    SetEvent(entered);
    WaitForSingleObject(proceed, INFINITE);
    return server::createClassObject(creator, riid, ppv);
  }
};

TEST_F(ModuleState, RequestsDuringTheFirstOneWaitForItsClassObject) {
  ASSERT_TRUE(server::initializeModule(instance_));
  server::ClassEntry& entry = server::classTable()[0];
  const auto originalMaker = entry.createClassObject;
  entry.createClassObject = SlowMaker::make;
  SlowMaker::calls = 0;
  SlowMaker::entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SlowMaker::proceed = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  constexpr int requestCount = 6;
  std::vector<void*> results(requestCount, nullptr);
  std::vector<HRESULT> outcomes(requestCount, E_FAIL);
  std::atomic<int> started{0};
  auto request = [&](int i) {
    ++started;
    outcomes[i] = server::getClassObject(server::CLSID_CmdPrompt, IID_IClassFactory, &results[i]);
  };
  std::vector<std::thread> threads;
  threads.emplace_back(request, 0);
  WaitForSingleObject(SlowMaker::entered, INFINITE);
  for (int i = 1; i < requestCount; ++i) {
    threads.emplace_back(request, i);
  }
  while (started < requestCount) {
    Sleep(1);
  }
  // Give the later requests time to reach the lock. Should they get there
  // late the test checks less, but it cannot fail wrongly.
  Sleep(100);
  SetEvent(SlowMaker::proceed);
  for (std::thread& thread : threads) {
    thread.join();
  }
  entry.createClassObject = originalMaker;
  CloseHandle(SlowMaker::entered);
  CloseHandle(SlowMaker::proceed);

  EXPECT_EQ(1, SlowMaker::calls.load()) << "class objects made";
  for (int i = 0; i < requestCount; ++i) {
    EXPECT_HR(S_OK, outcomes[i]) << "request " << i;
    EXPECT_EQ(static_cast<void*>(entry.cachedClassObject), results[i]) << "request " << i;
  }
  for (void* result : results) {
    if (result != nullptr) {
      static_cast<IUnknown*>(result)->Release();
    }
  }
  EXPECT_EQ(0, server::lockCount());
}

}  // namespace
