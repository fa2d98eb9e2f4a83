// Load-time set-up and unload-time release of the module's state, run
// in-process so that a lock or a class object can be made to fail for lack
// of memory, which the real API cannot be asked to do.

#include <windows.h>

#include "platform/memory.h"
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

}  // namespace
