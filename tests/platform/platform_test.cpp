// The platform seam: the allocation fault plan, owned strings that stay
// intact when an allocation fails, and the RAII owners' reset-first put().

#include <windows.h>

#include <new>

#include "platform/memory.h"
#include "platform/unique_resource.h"
#include "platform/wide_string.h"
#include "support/test_support.h"

namespace {

struct FaultPlanGuard {
  ~FaultPlanGuard() { platform::failAllocationAfter(-1); }
};

TEST(AllocationFaultPlan, FailsExactlyTheChosenAllocation) {
  FaultPlanGuard guard;
  for (long successes : {0L, 1L, 3L}) {
    platform::failAllocationAfter(successes);
    for (long i = 0; i <= successes + 1; ++i) {
      void* block = platform::allocate(16);
      EXPECT_EQ(i == successes, block == nullptr) << "plan " << successes << ", allocation " << i;
      platform::release(block);
    }
  }
}

TEST(AllocationFaultPlan, ReachesNothrowNewButNotTheThrowingForm) {
  FaultPlanGuard guard;
  platform::failAllocationAfter(0);
  int* fromThrowing = new int(1);  // not part of the plan
  int* fromNothrow = new (std::nothrow) int(2);
  EXPECT_NE(nullptr, fromThrowing);
  EXPECT_EQ(nullptr, fromNothrow);
  delete fromThrowing;
  delete fromNothrow;
}

TEST(WideString, KeepsItsTextWhenAnAllocationFails) {
  FaultPlanGuard guard;
  platform::WideString text;
  ASSERT_HR(S_OK, text.assign(L"C:\\Work"));
  platform::failAllocationAfter(0);
  EXPECT_HR(E_OUTOFMEMORY, text.append(L"\\Tools"));
  EXPECT_STREQ(L"C:\\Work", text.c_str());
  platform::failAllocationAfter(0);
  EXPECT_HR(E_OUTOFMEMORY, text.assign(L"D:\\"));
  EXPECT_STREQ(L"C:\\Work", text.c_str());
  ASSERT_HR(S_OK, text.append(L"\\Tools"));
  EXPECT_STREQ(L"C:\\Work\\Tools", text.c_str());
  EXPECT_EQ(13u, text.length());
  text.clear();
  EXPECT_STREQ(L"", text.c_str());
  EXPECT_TRUE(text.empty());
}

TEST(WideStringList, KeepsOrderAcrossGrowthAndFailedAppends) {
  FaultPlanGuard guard;
  const long live = platform::liveAllocationCount();
  {
    platform::WideStringList list;
    const wchar_t* names[] = {L"a", L"bb", L"ccc", L"dddd", L"eeeee", L"ffffff"};
    for (const wchar_t* name : names) {
      ASSERT_HR(S_OK, list.append(name));
    }
    // A failure while copying the string, and one while growing the storage.
    for (long successes : {0L, 1L}) {
      for (size_t i = list.size(); i < 8; ++i) {
        ASSERT_HR(S_OK, list.append(L"x"));
      }
      const size_t before = list.size();
      platform::failAllocationAfter(successes);
      EXPECT_HR(E_OUTOFMEMORY, list.append(L"lost")) << "plan " << successes;
      EXPECT_EQ(before, list.size());
    }
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_STREQ(names[i], list[i].c_str()) << "entry " << i;
    }
    list.clear();
    EXPECT_TRUE(list.empty());
  }
  EXPECT_EQ(live, platform::liveAllocationCount()) << "the list leaked";
}

TEST(UniqueResource, PutClosesWhatItHeldAndHandsOutAnEmptySlot) {
  // An exclusively opened file shows whether its handle is still open.
  testing_support::TempFolder folder;
  const std::wstring path = folder.makeFile(L"locked.txt", "x");
  auto openExclusive = [&] {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  auto canOpen = [&] {
    HANDLE other = openExclusive();
    if (other == INVALID_HANDLE_VALUE) {
      return false;
    }
    CloseHandle(other);
    return true;
  };

  platform::UniqueHandle file(openExclusive());
  ASSERT_TRUE(file);
  EXPECT_FALSE(canOpen());
  HANDLE* slot = file.put();
  EXPECT_EQ(nullptr, *slot);
  EXPECT_TRUE(canOpen()) << "put() left the old handle open";

  *slot = openExclusive();
  platform::UniqueHandle moved(std::move(file));
  EXPECT_FALSE(file);
  EXPECT_FALSE(canOpen());
  moved.reset();
  EXPECT_TRUE(canOpen()) << "reset() left the handle open";

  platform::UniqueKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()));
  EXPECT_TRUE(key);
  EXPECT_EQ(nullptr, *key.put());
}

TEST(UniqueResource, GdiObjectsAreReleased) {
  const DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  {
    platform::UniqueDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    platform::UniqueBitmap bitmap(CreateCompatibleBitmap(dc.get(), 16, 16));
    ASSERT_TRUE(bitmap);
    BITMAP info{};
    ASSERT_NE(0, GetObjectW(bitmap.get(), sizeof info, &info));
  }
  EXPECT_EQ(before, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
}

}  // namespace
