// The folder-browse dialog end to end: Shift held while the menu is built,
// then the command chosen; a second thread works the dialog as a user would,
// and command_probe.exe, standing in for the interpreter, records where the
// console was started.

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../handler/handler_fixture.h"
#include "platform/process_start.h"
#include "shift_key.h"
#include "support/test_support.h"

namespace {

using handler_testing::Access;

// Counts the consoles the handler starts, and starts them for real.
std::atomic<int> processStarts{0};
BOOL WINAPI countingCreateProcess(LPCWSTR applicationName, LPWSTR commandLine,
                                  LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                  DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                  LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) {
  ++processStarts;
  return CreateProcessW(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                        creationFlags, environment, currentDirectory, startupInfo, processInformation);
}

std::wstring windowClass(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK findTree(HWND window, LPARAM found) {
  if (windowClass(window) == WC_TREEVIEWW) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring itemText(HWND tree, HTREEITEM item) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW info{};
  info.mask = TVIF_TEXT;
  info.hItem = item;
  info.pszText = text;
  info.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info));
  return text;
}

// What the user does in the dialog, and what the dialog showed.
struct DialogVisit {
  explicit DialogVisit(std::wstring subfolder = {}) : choose(std::move(subfolder)) {}
  std::wstring choose;  // the subfolder to pick and confirm; empty: cancel
  bool found = false;
  HWND owner = nullptr;
  std::wstring rootText;
  std::vector<std::wstring> children;
  bool chosen = false;
};

// Waits (bounded) for this process's browse dialog, reads its tree, selects
// the named child of the root and presses OK, or presses Cancel. The dialog
// is always closed once found, so the handler's call returns. The child is
// selected by its name in the tree rather than with BFFM_SETSELECTIONW: Wine
// matches a path against the tree by comparing item-ID lists byte by byte,
// and a folder's first listing changes the times they carry.
void workDialog(DialogVisit* visit) {
  HWND dialog = nullptr;
  for (int attempt = 0; attempt < 3000 && dialog == nullptr; ++attempt) {
    for (HWND candidate = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); candidate != nullptr;
         candidate = FindWindowExW(nullptr, candidate, L"#32770", nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(candidate, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(candidate)) {
        dialog = candidate;
        break;
      }
    }
    if (dialog == nullptr) {
      Sleep(10);
    }
  }
  if (dialog == nullptr) {
    return;
  }
  visit->found = true;
  visit->owner = GetWindow(dialog, GW_OWNER);

  // A dialog that is still settling on a busy machine may not show its tree
  // or the root's children yet: read it again, within bounds, until it does.
  for (int attempt = 0; attempt < 100; ++attempt) {
    visit->children.clear();
    HWND tree = nullptr;
    EnumChildWindows(dialog, findTree, reinterpret_cast<LPARAM>(&tree));
    HTREEITEM root = tree != nullptr
                         ? reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0))
                         : nullptr;
    if (root != nullptr) {
      visit->rootText = itemText(tree, root);
      SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
      for (auto child = reinterpret_cast<HTREEITEM>(
               SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
           child != nullptr; child = reinterpret_cast<HTREEITEM>(SendMessageW(
                                 tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        const std::wstring text = itemText(tree, child);
        visit->children.push_back(text);
        if (!visit->choose.empty() && text == visit->choose) {
          visit->chosen =
              SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child)) != FALSE;
        }
      }
    }
    if (!visit->children.empty() && (visit->choose.empty() || visit->chosen)) {
      break;
    }
    Sleep(20);
  }
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(visit->chosen ? IDOK : IDCANCEL, BN_CLICKED), 0);
}

class BrowseDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    previousCreateProcess = platform::replaceCreateProcess(countingCreateProcess);
    processStarts = 0;
    work = folders.makeFolder(L"Work");
    tools = folders.makeFolder(L"Work\\Tools");
    other = folders.makeFolder(L"Work\\Other");

    handler = handler_testing::createHandler();
    ASSERT_TRUE(handler);
    platform::UniqueItemIdList workList = handler_testing::itemIdListOf(work);
    ASSERT_HR(S_OK, handler->Initialize(workList.get(), nullptr, nullptr));
    ASSERT_HR(S_OK, handler->QueryInterface(IID_IContextMenu, menu.putVoid()));

    // Shift held while the menu is built puts the handler in browse mode.
    menu_testing::ShiftHeld shift;
    HMENU popup = CreatePopupMenu();
    EXPECT_HR(MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1),
              menu->QueryContextMenu(popup, 0, 1, 1, CMF_NORMAL));
    DestroyMenu(popup);
  }
  void TearDown() override { platform::replaceCreateProcess(previousCreateProcess); }

  // Chooses the command, offset 0, with `owner` as the dialog's owner, while
  // a second thread pays the dialog `visit`.
  HRESULT invoke(DialogVisit& visit, HWND owner = nullptr) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.nShow = SW_SHOWNORMAL;
    std::thread user(workDialog, &visit);
    const HRESULT hr = menu->InvokeCommand(&info);
    user.join();
    EXPECT_TRUE(visit.found) << "no browse dialog appeared";
    return hr;
  }

  handler_testing::ProbeInterpreter probe;
  testing_support::TempFolder folders;
  std::wstring work, tools, other;
  platform::ComPtr<IShellExtInit> handler;
  platform::ComPtr<IContextMenu> menu;
  platform::CreateProcessFunction previousCreateProcess = nullptr;
};

TEST_F(BrowseDialog, ChosenSubfolderIsWhereTheConsoleStarts) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(nullptr, owner);
  DialogVisit visit{L"Tools"};
  EXPECT_HR(S_OK, invoke(visit, owner));
  DestroyWindow(owner);

  EXPECT_EQ(owner, visit.owner) << "the record's hwnd owns the dialog";
  EXPECT_EQ(L"Work", visit.rootText) << "rooted at the selected folder";
  EXPECT_EQ((std::vector<std::wstring>{L"Other", L"Tools"}), visit.children);
  ASSERT_TRUE(visit.chosen) << "could not select Tools in the tree";
  EXPECT_EQ(1, processStarts.load());
  const auto lines = probe.waitForLines(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(testing_support::narrow(tools), testing_support::narrow(lines[0].first));
  EXPECT_TRUE(Access::folders(handler.get()) == std::vector<std::wstring>{work}) << "folders unchanged";
}

TEST_F(BrowseDialog, CancelStartsNothing) {
  DialogVisit visit;  // chooses nothing and cancels
  EXPECT_HR(S_OK, invoke(visit));
  EXPECT_EQ(nullptr, visit.owner) << "a null hwnd gives an unowned dialog";
  EXPECT_EQ(L"Work", visit.rootText);
  EXPECT_EQ(0, processStarts.load()) << "a cancelled dialog starts no console";
  EXPECT_TRUE(probe.lines().empty());
}

TEST_F(BrowseDialog, EachInvocationStartsAgainAtTheSelectedFolder) {
  DialogVisit first{L"Tools"};
  EXPECT_HR(S_OK, invoke(first));
  ASSERT_TRUE(first.chosen);

  // Rooted at Work again, not at Tools: Other is still there to be chosen.
  DialogVisit second{L"Other"};
  EXPECT_HR(S_OK, invoke(second));
  EXPECT_EQ(L"Work", second.rootText);
  ASSERT_TRUE(second.chosen) << "Other not offered; children seen: " << second.children.size();

  EXPECT_EQ(2, processStarts.load());
  const auto lines = probe.waitForLines(2);
  ASSERT_EQ(2u, lines.size());
  // Two probes may finish in either order.
  std::vector<std::string> started = {testing_support::narrow(lines[0].first),
                                      testing_support::narrow(lines[1].first)};
  std::sort(started.begin(), started.end());
  EXPECT_EQ((std::vector<std::string>{testing_support::narrow(other), testing_support::narrow(tools)}),
            started);
}

}  // namespace
