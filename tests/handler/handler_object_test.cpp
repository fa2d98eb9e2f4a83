// The handler object: its creator, interfaces and reference count, the
// interpreter's path cached once per process, and the menu bitmap.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "handler/process_strings.h"
#include "handler_fixture.h"
#include "platform/memory.h"
#include "server/module.h"

using handler::CmdPrompt;
using handler_testing::Access;
using handler_testing::createHandler;
using handler_testing::setComspec;

namespace {

// Sentinel that a call must overwrite with null.
void* const untouched = reinterpret_cast<void*>(0x1234);

// The system's small-icon image list, as the handler asks for it.
HIMAGELIST smallIconList(const wchar_t* path, int* index) {
  SHFILEINFOW info{};
  auto list = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(path, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_ICON | SHGFI_SMALLICON));
  if (info.hIcon != nullptr) {
    DestroyIcon(info.hIcon);
  }
  *index = info.iIcon;
  return list;
}

// GDI objects of this process, or -1 when the platform does not count them
// (Wine's GetGuiResources is a stub that answers 0).
long gdiObjects() {
  const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  return count == 0 ? -1 : static_cast<long>(count);
}

class HandlerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    interpreter_ = testing_support::buildFile(L"command_probe.exe");
    ASSERT_FALSE(interpreter_.empty()) << "command_probe.exe not found";
    setComspec(interpreter_.c_str());
  }
  void TearDown() override { setComspec(nullptr); }
  std::wstring interpreter_;
};

TEST_F(HandlerObject, CreatorRefusesAggregationAndNullResult) {
  const LONG locks = server::lockCount();
  IUnknown* outer = reinterpret_cast<IUnknown*>(0x10);  // never called
  void* result = untouched;
  EXPECT_HR(CLASS_E_NOAGGREGATION, CmdPrompt::create(outer, IID_IUnknown, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_HR(E_POINTER, CmdPrompt::create(outer, IID_IUnknown, nullptr));
  EXPECT_HR(E_POINTER, CmdPrompt::create(nullptr, IID_IUnknown, nullptr));
  EXPECT_EQ(locks, server::lockCount());
}

TEST_F(HandlerObject, AnswersItsTwoInterfacesWithIShellExtInitAsIdentity) {
  const LONG locks = server::lockCount();
  IContextMenu* menu = nullptr;
  ASSERT_HR(S_OK, CmdPrompt::create(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)));
  EXPECT_EQ(locks + 1, server::lockCount()) << "a live handler keeps the module loaded";

  IUnknown* identity = nullptr;
  ASSERT_HR(S_OK, menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
  IShellExtInit* init = nullptr;
  ASSERT_HR(S_OK, menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)));
  EXPECT_EQ(static_cast<void*>(init), static_cast<void*>(identity));
  EXPECT_NE(static_cast<void*>(init), static_cast<void*>(menu));
  IContextMenu* again = nullptr;
  ASSERT_HR(S_OK, init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&again)));
  EXPECT_EQ(menu, again);
  EXPECT_EQ(4, Access::referenceCount(init)) << "creator's result plus three queries";

  void* other = untouched;
  EXPECT_HR(E_NOINTERFACE, init->QueryInterface(IID_IDataObject, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_HR(E_POINTER, init->QueryInterface(IID_IUnknown, nullptr));

  const HBITMAP bitmap = Access::menuBitmap(init);
  EXPECT_EQ(3u, again->Release());
  EXPECT_EQ(2u, identity->Release());
  EXPECT_EQ(1u, init->Release());
  EXPECT_EQ(OBJ_BITMAP, GetObjectType(bitmap)) << "the bitmap lives as long as the object";
  EXPECT_EQ(0u, menu->Release());
  EXPECT_EQ(locks, server::lockCount());
  if (bitmap != nullptr) {
    EXPECT_EQ(0u, static_cast<unsigned>(GetObjectType(bitmap))) << "the last Release deletes the bitmap";
  }
}

TEST_F(HandlerObject, ForeignInterfaceDestroysTheNewObjectAtOnce) {
  const LONG locks = server::lockCount();
  const long gdi = gdiObjects();
  void* result = untouched;
  EXPECT_HR(E_NOINTERFACE, CmdPrompt::create(nullptr, IID_IDataObject, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ(locks, server::lockCount());
  EXPECT_EQ(gdi, gdiObjects()) << "its bitmap went with it";
}

TEST_F(HandlerObject, MenuBitmapIsAMonochromeDrawingAtTheSmallIconSize) {
  int index = -1;
  HIMAGELIST list = smallIconList(interpreter_.c_str(), &index);
  ASSERT_NE(nullptr, list);
  int width = 0;
  int height = 0;
  ASSERT_TRUE(ImageList_GetIconSize(list, &width, &height));

  auto init = createHandler();
  ASSERT_TRUE(init);
  const HBITMAP bitmap = Access::menuBitmap(init.get());
  ASSERT_NE(nullptr, bitmap);
  BITMAP info{};
  ASSERT_EQ(static_cast<int>(sizeof info), GetObjectW(bitmap, sizeof info, &info));
  EXPECT_EQ(width, info.bmWidth);
  EXPECT_EQ(height, info.bmHeight);
  EXPECT_EQ(1, info.bmBitsPixel) << "compatible with a fresh memory context, so monochrome";
  EXPECT_EQ(1, info.bmPlanes);
}

TEST_F(HandlerObject, InterpreterPathIsReadOnceAndThenKept) {
  setComspec(nullptr);
  auto first = createHandler();
  ASSERT_TRUE(first) << "a missing comspec does not stop creation";
  EXPECT_STREQ(L"", handler::comspecPath());
  // The icon lookup is still made with the empty path. Wine answers it with
  // the image list and a default icon, so whether there is a bitmap now is
  // the platform's affair.

  // Set later in the process: the next creation takes it, exactly as given.
  const std::wstring quoted = L"\"" + interpreter_ + L"\"";
  SetEnvironmentVariableW(L"comspec", interpreter_.c_str());
  auto second = createHandler();
  ASSERT_TRUE(second);
  EXPECT_EQ(interpreter_, handler::comspecPath());
  EXPECT_NE(nullptr, Access::menuBitmap(second.get())) << "drawn from the interpreter's icon";

  // Once set it stays, whatever the environment says afterwards.
  SetEnvironmentVariableW(L"comspec", quoted.c_str());
  auto third = createHandler();
  EXPECT_EQ(interpreter_, handler::comspecPath());

  setComspec(quoted.c_str());
  auto fourth = createHandler();
  EXPECT_EQ(quoted, handler::comspecPath()) << "no quotes added or removed";
}

TEST_F(HandlerObject, ConcurrentFirstReadsPublishOneWholePath) {
  // Long, so that a reader would catch a half-written path.
  const std::wstring path = L"C:\\" + std::wstring(600, L'x') + L"\\cmd.exe";
  SetEnvironmentVariableW(L"comspec", path.c_str());
  constexpr int writers = 6;
  constexpr int rounds = 20;
  for (int round = 0; round < rounds; ++round) {
    handler::releaseProcessStrings();
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> failures{0};
    std::thread reader([&] {
      ready.fetch_add(1);
      while (!go.load()) {
      }
      while (!done.load()) {
        const std::wstring seen = handler::comspecPath();
        if (!seen.empty() && seen != path) {
          torn.fetch_add(1);
        }
      }
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < writers; ++i) {
      threads.emplace_back([&, i] {
        ready.fetch_add(1);
        while (!go.load()) {
        }
        // Half of them through a whole construction, as a host would.
        if (i % 2 == 0) {
          if (handler::cacheComspecPath() != S_OK) {
            failures.fetch_add(1);
          }
        } else {
          IShellExtInit* init = nullptr;
          if (CmdPrompt::create(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)) != S_OK) {
            failures.fetch_add(1);
          } else {
            init->Release();
          }
        }
      });
    }
    while (ready.load() != writers + 1) {
    }
    go.store(true);
    for (auto& thread : threads) {
      thread.join();
    }
    done.store(true);
    reader.join();
    ASSERT_EQ(0, torn.load()) << "round " << round;
    ASSERT_EQ(0, failures.load()) << "round " << round;
    ASSERT_EQ(path, handler::comspecPath()) << "round " << round;
  }
}

TEST_F(HandlerObject, OutOfMemoryAtEachAllocationOfCreationLeaksNothing) {
  const LONG locks = server::lockCount();
  const long gdi = gdiObjects();
  if (gdi < 0) {
    std::printf(
        "GDI objects are not counted here (GetGuiResources answers 0); only the lock count is checked\n");
  }
  int failedPoints = 0;
  for (long successes = 0;; ++successes) {
    ASSERT_LT(successes, 20) << "creation never succeeded";
    handler::releaseProcessStrings();  // so that the path is allocated too
    void* result = untouched;
    const long live = platform::liveAllocationCount();
    platform::failAllocationAfter(successes);
    const HRESULT hr = CmdPrompt::create(nullptr, IID_IShellExtInit, &result);
    platform::failAllocationAfter(-1);
    if (hr == S_OK) {
      static_cast<IUnknown*>(result)->Release();
      break;
    }
    ++failedPoints;
    EXPECT_HR(E_OUTOFMEMORY, hr) << "allocation " << successes;
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(locks, server::lockCount()) << "allocation " << successes;
    EXPECT_EQ(live, platform::liveAllocationCount()) << "leaked at allocation " << successes;
  }
  EXPECT_EQ(2, failedPoints) << "the object and the interpreter's path";
  EXPECT_EQ(locks, server::lockCount());
  EXPECT_EQ(gdi, gdiObjects()) << "-1: this platform does not count GDI objects";
}

}  // namespace
