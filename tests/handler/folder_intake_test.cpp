// Initialize: the shell's selection, given as real item-ID lists of real
// folders and a data object with a real drop list, becomes the handler's
// target folders.

#include <windows.h>

#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "handler_fixture.h"
#include "platform/memory.h"

using handler_testing::Access;
using handler_testing::createHandler;
using handler_testing::DropDataObject;
using handler_testing::itemIdListOf;
using testing_support::narrow;

namespace {

std::string show(const std::vector<std::wstring>& list) {
  std::string out = "{";
  for (const auto& item : list) {
    out += (out.size() > 1 ? ", " : "") + narrow(item);
  }
  return out + "}";
}

class FolderIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    one_ = temp_.makeFolder(L"one");
    two_ = temp_.makeFolder(L"two");
    three_ = temp_.makeFolder(L"three with blanks");
    file_ = temp_.makeFile(L"file.txt", "text");
    init_ = createHandler();
    ASSERT_TRUE(init_);
  }

  // The selection as the shell passes it: an item-ID list (of a path, of a
  // virtual folder, or none) and an optional drop list.
  enum class Pidl { none, path, virtualFolder };
  HRESULT initialize(Pidl kind, const std::wstring& pidlPath, DropDataObject* data) {
    platform::UniqueItemIdList pidl;
    if (kind == Pidl::path) {
      pidl = itemIdListOf(pidlPath);
    } else if (kind == Pidl::virtualFolder) {
      // "This PC": a folder of the namespace with no file-system path.
      EXPECT_HR(S_OK, SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, pidl.put()));
    }
    return init_->Initialize(pidl.get(), data, nullptr);
  }

  testing_support::TempFolder temp_;
  std::wstring one_, two_, three_, file_;
  platform::ComPtr<IShellExtInit> init_;
};

TEST_F(FolderIntake, SelectionsGiveExactlyOneFolderOrNone) {
  struct Case {
    const char* what;
    Pidl pidl;
    std::wstring pidlPath;
    std::optional<std::vector<std::wstring>> drop;  // no value: no data object
    HRESULT expected;
    std::vector<std::wstring> folders;
    bool dataConsulted;
  };
  const std::wstring missing = temp_.path() + L"\\missing";
  const Case cases[] = {
      {"folder background", Pidl::path, one_, std::nullopt, S_OK, {one_}, false},
      {"virtual folder and one directory", Pidl::virtualFolder, {}, std::vector{two_}, S_OK, {two_}, true},
      {"folder wins over the list", Pidl::path, one_, std::vector{two_, three_}, S_OK, {one_}, false},
      {"file and directory", Pidl::none, {}, std::vector{file_, three_}, S_OK, {three_}, true},
      {"two directories, in order",
       Pidl::none,
       {},
       std::vector{three_, two_},
       E_INVALIDARG,
       {three_, two_},
       true},
      {"only files", Pidl::none, {}, std::vector{file_, missing}, E_INVALIDARG, {}, true},
      {"drive root", Pidl::none, {}, std::vector<std::wstring>{L"C:\\"}, S_OK, {L"C:\\"}, true},
      {"empty list", Pidl::none, {}, std::vector<std::wstring>{}, E_INVALIDARG, {}, true},
      {"nothing at all", Pidl::none, {}, std::nullopt, E_INVALIDARG, {}, false},
      {"virtual folder alone", Pidl::virtualFolder, {}, std::nullopt, E_INVALIDARG, {}, false},
      {"item of a file, then the list", Pidl::path, file_, std::vector{two_}, S_OK, {two_}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<DropDataObject> data;
    if (c.drop) {
      data.emplace(*c.drop);
    }
    EXPECT_HR(c.expected, initialize(c.pidl, c.pidlPath, data ? &*data : nullptr));
    const auto folders = Access::folders(init_.get());
    EXPECT_EQ(show(c.folders), show(folders));
    if (data) {
      EXPECT_EQ(c.dataConsulted ? 1 : 0, data->getDataCalls());
      EXPECT_EQ(data->getDataCalls(), data->releasedMedia()) << "every medium released";
    }
  }
}

TEST_F(FolderIntake, DataObjectWithoutADropListIsRefused) {
  DropDataObject data({two_}, /*offersDrop=*/false);
  EXPECT_HR(E_INVALIDARG, initialize(Pidl::none, {}, &data));
  EXPECT_EQ(1, data.getDataCalls());
  EXPECT_EQ(0, data.releasedMedia()) << "a failed GetData leaves nothing to release";
  EXPECT_TRUE(Access::folders(init_.get()).empty());
}

TEST_F(FolderIntake, EachCallStartsAfresh) {
  DropDataObject two({two_, three_});
  EXPECT_HR(E_INVALIDARG, initialize(Pidl::none, {}, &two));
  EXPECT_HR(S_OK, initialize(Pidl::path, one_, nullptr));
  EXPECT_EQ(show({one_}), show(Access::folders(init_.get())));
  EXPECT_HR(E_INVALIDARG, initialize(Pidl::none, {}, nullptr));
  EXPECT_EQ(show({}), show(Access::folders(init_.get())));
}

// A name longer than the 520-character path buffer is skipped; cut short, it
// would name its own parent here, which is a directory too.
TEST_F(FolderIntake, OverlongDroppedNameIsSkippedNotTruncated) {
  // A directory whose path has exactly 519 characters, so that it still
  // fits the buffer with its terminator, and a directory inside it.
  std::wstring fits = temp_.path();
  while (fits.size() < 519) {
    const size_t room = 519 - fits.size() - 1;  // less the backslash
    size_t take = room > 200 ? 200 : room;
    if (room > 200 && room - 200 < 2) {
      take = 150;  // leave room for a last component of at least one character
    }
    fits += L"\\" + std::wstring(take, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + fits).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS)
        << "error " << GetLastError();
  }
  ASSERT_EQ(519u, fits.size());
  const std::wstring overlong = fits + L"\\sub";
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + overlong).c_str(), nullptr)) << "error " << GetLastError();

  DropDataObject alone({overlong});
  EXPECT_HR(E_INVALIDARG, initialize(Pidl::none, {}, &alone));
  EXPECT_EQ(show({}), show(Access::folders(init_.get())));

  DropDataObject withOthers({overlong, two_, file_});
  EXPECT_HR(S_OK, initialize(Pidl::none, {}, &withOthers));
  EXPECT_EQ(show({two_}), show(Access::folders(init_.get())));

  DropDataObject exact({fits});
  EXPECT_HR(S_OK, initialize(Pidl::none, {}, &exact));
  EXPECT_EQ(show({fits}), show(Access::folders(init_.get())));
}

TEST_F(FolderIntake, OutOfMemoryWhileKeepingAFolder) {
  struct Case {
    const char* what;
    Pidl pidl;
    std::vector<std::wstring> drop;
    std::wstring expected;
  };
  const Case cases[] = {
      {"from the item-ID list", Pidl::path, {}, one_},
      {"from the drop list", Pidl::none, {file_, two_}, two_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int failedPoints = 0;
    for (long successes = 0;; ++successes) {
      ASSERT_LT(successes, 20) << "Initialize never succeeded";
      // A fresh object each time, so that the list's storage is allocated anew.
      init_ = createHandler();
      ASSERT_TRUE(init_);
      DropDataObject data(c.drop);
      platform::UniqueItemIdList pidl;
      if (c.pidl == Pidl::path) {
        pidl = itemIdListOf(one_);
      }
      const long live = platform::liveAllocationCount();
      platform::failAllocationAfter(successes);
      const HRESULT hr = init_->Initialize(pidl.get(), &data, nullptr);
      platform::failAllocationAfter(-1);
      EXPECT_EQ(data.getDataCalls(), data.releasedMedia()) << "allocation " << successes;
      if (hr == S_OK) {
        EXPECT_EQ(show({c.expected}), show(Access::folders(init_.get())));
        break;
      }
      ++failedPoints;
      EXPECT_HR(E_OUTOFMEMORY, hr) << "allocation " << successes;
      EXPECT_EQ(show({}), show(Access::folders(init_.get())));
      EXPECT_EQ(live, platform::liveAllocationCount()) << "leaked at allocation " << successes;
      // The object is still whole: the next call works.
      EXPECT_HR(S_OK, init_->Initialize(pidl ? pidl.get() : nullptr, &data, nullptr));
    }
    EXPECT_EQ(2, failedPoints) << "the folder's text and the list's storage";
  }
}

}  // namespace
