// The menu item and its command strings, driven as the shell drives them:
// real popup menus read back with GetMenuItemInfoW, Shift pressed through
// SendInput, the thread locale switched with SetThreadLocale.

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "handler/cmd_prompt.h"
#include "handler/localized_string.h"
#include "platform/memory.h"
#include "platform/wide_string.h"
#include "shift_key.h"
#include "support/test_support.h"

namespace handler {

// Reaches the handler's fields for the tests.
struct CmdPromptTestAccess {
  static CmdPrompt* object(IContextMenu* menu) { return static_cast<CmdPrompt*>(menu); }
  static bool& browseMode(IContextMenu* menu) { return object(menu)->browseMode; }
  static HBITMAP menuBitmap(IContextMenu* menu) { return object(menu)->menuBitmap; }
  // Hands the object a bitmap it then owns, deleting the one it drew itself.
  static void replaceMenuBitmap(IContextMenu* menu, HBITMAP bitmap) {
    if (object(menu)->menuBitmap != nullptr) {
      DeleteObject(object(menu)->menuBitmap);
    }
    object(menu)->menuBitmap = bitmap;
  }
};

}  // namespace handler

namespace {

using handler::CmdPromptTestAccess;
using menu_testing::ShiftHeld;

const HRESULT oneIdentifierUsed = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1);
const HRESULT noIdentifierUsed = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);

const std::wstring englishMenuText = L"&Command Prompt";
const std::wstring englishHelpText = L"Run Command Prompt here";
const std::wstring englishBrowseHelpText = L"Browse this folder for Command Prompt";
const std::wstring russianMenuText = L"&Командная строка";
const std::wstring russianHelpText = L"Запустить командную строку в этой папке";
const std::wstring russianBrowseHelpText = L"Выбрать папку для командной строки";

const LCID russian = MAKELCID(0x0419, SORT_DEFAULT);
const LCID englishUs = MAKELCID(0x0409, SORT_DEFAULT);

// Switches the calling thread's locale for the life of the object. Windows
// picks a resource's language version by the thread's UI language and the
// thread's ANSI code page by its locale; Wine takes both from the locale.
// Setting both makes the test hold on either.
class ThreadLocale {
 public:
  explicit ThreadLocale(LCID locale) : previous_(GetThreadLocale()), previousUi_(GetThreadUILanguage()) {
    EXPECT_TRUE(SetThreadLocale(locale)) << "SetThreadLocale(0x" << std::hex << locale << ")";
    SetThreadUILanguage(LANGIDFROMLCID(locale));
  }
  ~ThreadLocale() {
    SetThreadUILanguage(previousUi_);
    SetThreadLocale(previous_);
  }

 private:
  LCID previous_;
  LANGID previousUi_;
};

// One menu item as GetMenuItemInfoW reports it.
struct MenuItem {
  UINT id = 0;
  UINT type = 0;
  UINT state = 0;
  HMENU subMenu = nullptr;
  HBITMAP checked = nullptr;
  HBITMAP unchecked = nullptr;
  std::wstring text;
};

MenuItem readItem(HMENU menu, UINT position) {
  wchar_t text[256] = {};
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = 256;
  MenuItem item;
  EXPECT_TRUE(GetMenuItemInfoW(menu, position, TRUE, &info)) << "position " << position;
  item.id = info.wID;
  item.type = info.fType;
  item.state = info.fState;
  item.subMenu = info.hSubMenu;
  item.checked = info.hbmpChecked;
  item.unchecked = info.hbmpUnchecked;
  item.text = text;
  return item;
}

std::vector<std::wstring> itemTexts(HMENU menu) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    texts.push_back(readItem(menu, i).text);
  }
  return texts;
}

struct Menu {
  Menu() : handle(CreatePopupMenu()) { EXPECT_NE(nullptr, handle); }
  ~Menu() { DestroyMenu(handle); }
  HMENU handle;
};

// A fresh handler for each test, in an English-text thread locale, with no
// bitmap unless a test gives it one.
class MenuItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, handler::CmdPrompt::create(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)));
    CmdPromptTestAccess::replaceMenuBitmap(menu, nullptr);
  }
  void TearDown() override {
    platform::failAllocationAfter(-1);
    if (menu != nullptr) {
      menu->Release();
    }
  }

  std::wstring helpText() {
    wchar_t buffer[128] = {};
    EXPECT_HR(S_OK, menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(buffer), 128));
    return buffer;
  }

  ThreadLocale locale{englishUs};
  IContextMenu* menu = nullptr;
};

TEST_F(MenuItemTest, InsertsOneEnabledTextItemAtThePosition) {
  struct Case {
    UINT indexMenu;
    UINT idCmdFirst;
    UINT idCmdLast;
    UINT flags;
    UINT expectedPosition;
  } cases[] = {
      {0, 100, 200, CMF_NORMAL, 0},
      {1, 100, 200, CMF_NORMAL, 1},
      {3, 7, 7, CMF_EXPLORE | CMF_CANRENAME, 3},  // after the last item
      {2, 500, 10, CMF_NORMAL, 2},                // idCmdFirst above idCmdLast
      {0xFFFFFFFF, 1, 2, CMF_NORMAL, 3},          // a position past the end appends
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "indexMenu " << c.indexMenu << ", idCmdFirst " << c.idCmdFirst);
    Menu host;
    AppendMenuW(host.handle, MF_STRING, 1001, L"one");
    AppendMenuW(host.handle, MF_STRING, 1002, L"two");
    AppendMenuW(host.handle, MF_STRING, 1003, L"three");

    EXPECT_HR(oneIdentifierUsed,
              menu->QueryContextMenu(host.handle, c.indexMenu, c.idCmdFirst, c.idCmdLast, c.flags));
    ASSERT_EQ(4, GetMenuItemCount(host.handle));
    std::vector<std::wstring> expected = {L"one", L"two", L"three"};
    expected.insert(expected.begin() + c.expectedPosition, englishMenuText);
    EXPECT_EQ(expected, itemTexts(host.handle));

    const MenuItem item = readItem(host.handle, c.expectedPosition);
    EXPECT_EQ(c.idCmdFirst, item.id);
    EXPECT_EQ(static_cast<UINT>(MFT_STRING), item.type);
    EXPECT_EQ(static_cast<UINT>(MFS_ENABLED | MFS_UNCHECKED), item.state);
    EXPECT_EQ(nullptr, item.subMenu);
    EXPECT_EQ(nullptr, item.checked) << "no bitmap to attach";
    EXPECT_EQ(nullptr, item.unchecked);
    EXPECT_FALSE(CmdPromptTestAccess::browseMode(menu));
  }
}

TEST_F(MenuItemTest, LendsTheMenuBitmapForBothCheckStates) {
  HBITMAP bitmap = CreateBitmap(16, 16, 1, 1, nullptr);
  ASSERT_NE(nullptr, bitmap);
  CmdPromptTestAccess::replaceMenuBitmap(menu, bitmap);  // the object owns it now

  Menu host;
  AppendMenuW(host.handle, MF_STRING, 1001, L"one");
  EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 40, 50, CMF_NORMAL));
  const MenuItem item = readItem(host.handle, 0);
  EXPECT_EQ(englishMenuText, item.text);
  EXPECT_EQ(bitmap, item.checked);
  EXPECT_EQ(bitmap, item.unchecked);
  // The neighbour keeps its own (absent) check marks.
  EXPECT_EQ(nullptr, readItem(host.handle, 1).checked);

  BITMAP format{};
  ASSERT_EQ(static_cast<int>(sizeof format), GetObjectW(item.checked, sizeof format, &format));
  EXPECT_EQ(1, format.bmBitsPixel);
  EXPECT_EQ(1, format.bmPlanes);
  EXPECT_EQ(16, format.bmWidth);
}

TEST(MenuBitmap, TheInterpretersIconIsLentForBothCheckStates) {
  // The handler draws its bitmap from the interpreter's small icon when it
  // is made; "comspec" names cmd.exe here.
  wchar_t comspec[MAX_PATH] = {};
  GetEnvironmentVariableW(L"comspec", comspec, MAX_PATH);
  IContextMenu* menu = nullptr;
  ASSERT_HR(S_OK, handler::CmdPrompt::create(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)));
  const HBITMAP bitmap = CmdPromptTestAccess::menuBitmap(menu);
  ASSERT_NE(nullptr, bitmap) << "no bitmap for comspec " << testing_support::narrow(comspec);

  BITMAP format{};
  ASSERT_EQ(static_cast<int>(sizeof format), GetObjectW(bitmap, sizeof format, &format));
  EXPECT_EQ(1, format.bmBitsPixel) << "a monochrome bitmap";
  EXPECT_EQ(1, format.bmPlanes);
  EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), format.bmWidth);
  EXPECT_EQ(GetSystemMetrics(SM_CYSMICON), format.bmHeight);

  Menu host;
  EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL));
  const MenuItem item = readItem(host.handle, 0);
  EXPECT_EQ(bitmap, item.checked);
  EXPECT_EQ(bitmap, item.unchecked);
  menu->Release();
}

TEST_F(MenuItemTest, ShiftHeldSelectsBrowseModeUntilTheNextQuery) {
  // Before any query: the normal help text.
  EXPECT_EQ(englishHelpText, helpText());

  {
    ShiftHeld shift;
    Menu host;
    EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL));
    EXPECT_EQ(englishMenuText + L"...", readItem(host.handle, 0).text);
    EXPECT_TRUE(CmdPromptTestAccess::browseMode(menu));
  }
  EXPECT_EQ(englishBrowseHelpText, helpText()) << "Shift is up again, but the mode stays";

  // A default-only query, with or without other flags, inserts nothing and
  // keeps the mode of the earlier query.
  for (UINT flags : {UINT{CMF_DEFAULTONLY}, UINT{CMF_DEFAULTONLY | CMF_EXPLORE | CMF_EXTENDEDVERBS}}) {
    Menu host;
    EXPECT_HR(noIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, flags)) << "flags " << flags;
    EXPECT_EQ(0, GetMenuItemCount(host.handle));
    EXPECT_TRUE(CmdPromptTestAccess::browseMode(menu));
    EXPECT_EQ(englishBrowseHelpText, helpText());
  }

  // The next full query without Shift ends browse mode.
  Menu host;
  EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL));
  EXPECT_EQ(englishMenuText, readItem(host.handle, 0).text);
  EXPECT_FALSE(CmdPromptTestAccess::browseMode(menu));
  EXPECT_EQ(englishHelpText, helpText());

  // A default-only query keeps normal mode just as well, even with Shift down.
  ShiftHeld shift;
  Menu other;
  EXPECT_HR(noIdentifierUsed, menu->QueryContextMenu(other.handle, 0, 1, 1, CMF_DEFAULTONLY));
  EXPECT_FALSE(CmdPromptTestAccess::browseMode(menu));
}

TEST_F(MenuItemTest, ShiftHeldCountsEvenWhenAnotherCallerSawThePressFirst) {
  ShiftHeld shift;
  // Another program's query of the key takes the "pressed since the last
  // query" bit; the user is still holding Shift. (Wine never sets that bit.)
  const USHORT first = static_cast<USHORT>(GetAsyncKeyState(VK_SHIFT));
  const USHORT second = static_cast<USHORT>(GetAsyncKeyState(VK_SHIFT));
  EXPECT_EQ(0, second & 0x0001) << "first 0x" << std::hex << first << ", second 0x" << second;
  ASSERT_NE(0, second & 0x8000);

  Menu host;
  EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL));
  EXPECT_EQ(englishMenuText + L"...", readItem(host.handle, 0).text);
  EXPECT_TRUE(CmdPromptTestAccess::browseMode(menu));
}

// What GetCommandString should leave in the caller's buffer: a buffer of
// marker bytes, with `written` copied over its start.
std::vector<std::uint8_t> markedBuffer(const void* written = nullptr, std::size_t bytes = 0) {
  std::vector<std::uint8_t> buffer(64, 0xAB);
  if (written != nullptr) {
    std::memcpy(buffer.data(), written, bytes);
  }
  return buffer;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", b);
    text += pair;
  }
  return text;
}

// Expected buffer after lstrcpyn of `text` with `cchMax`, wide or ANSI.
std::vector<std::uint8_t> copied(const std::wstring& text, UINT cchMax, bool wide) {
  if (cchMax == 0) {
    return markedBuffer();
  }
  const std::size_t units = std::min<std::size_t>(text.size(), cchMax - 1);
  if (wide) {
    std::wstring part = text.substr(0, units);
    return markedBuffer(part.c_str(), (units + 1) * sizeof(wchar_t));
  }
  std::string part(text.begin(), text.begin() + units);  // ASCII texts only
  return markedBuffer(part.c_str(), units + 1);
}

TEST_F(MenuItemTest, CommandStringRequests) {
  struct Kind {
    UINT uType;
    const char* name;
    bool checksCommand;          // E_INVALIDARG for idCmd 1
    const std::wstring* normal;  // null: nothing is written
    const std::wstring* browse;
    bool wide;
  } kinds[] = {
      {GCS_VERBA, "GCS_VERBA", false, nullptr, nullptr, false},
      {GCS_HELPTEXTA, "GCS_HELPTEXTA", true, &englishHelpText, &englishBrowseHelpText, false},
      {GCS_VALIDATEA, "GCS_VALIDATEA", false, nullptr, nullptr, false},
      {GCS_VERBW, "GCS_VERBW", true, nullptr, nullptr, true},
      {GCS_HELPTEXTW, "GCS_HELPTEXTW", true, &englishHelpText, &englishBrowseHelpText, true},
      {GCS_VALIDATEW, "GCS_VALIDATEW", true, &englishHelpText, &englishBrowseHelpText, true},
  };
  const std::wstring verb = L"Dorvanel";
  for (bool browse : {false, true}) {
    CmdPromptTestAccess::browseMode(menu) = browse;
    for (const Kind& kind : kinds) {
      for (UINT_PTR idCmd : {UINT_PTR{0}, UINT_PTR{1}}) {
        for (UINT cchMax : {0u, 1u, 10u}) {
          SCOPED_TRACE(::testing::Message()
                       << kind.name << ", browse " << browse << ", idCmd " << idCmd << ", cchMax " << cchMax);
          std::vector<std::uint8_t> buffer = markedBuffer();
          const HRESULT hr = menu->GetCommandString(idCmd, kind.uType, nullptr,
                                                    reinterpret_cast<CHAR*>(buffer.data()), cchMax);

          const std::wstring* text = kind.uType == GCS_VERBW ? &verb : browse ? kind.browse : kind.normal;
          if (idCmd != 0 && kind.checksCommand) {
            EXPECT_HR(E_INVALIDARG, hr);
            EXPECT_EQ(hex(markedBuffer()), hex(buffer)) << "untouched";
          } else if (text == nullptr) {
            EXPECT_HR(S_OK, hr);
            EXPECT_EQ(hex(markedBuffer()), hex(buffer)) << "untouched";
          } else {
            EXPECT_HR(S_OK, hr);
            EXPECT_EQ(hex(copied(*text, cchMax, kind.wide)), hex(buffer));
          }
        }
      }
    }
  }
}

TEST_F(MenuItemTest, HelpTextOfTenCharacters) {
  wchar_t wide[16];
  std::fill(std::begin(wide), std::end(wide), L'#');
  EXPECT_HR(S_OK, menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 10));
  EXPECT_EQ(std::wstring(L"Run Comma\0######", 16), std::wstring(wide, 16));

  char ansi[16];
  std::fill(std::begin(ansi), std::end(ansi), '#');
  EXPECT_HR(S_OK, menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 10));
  EXPECT_EQ(std::string("Run Comma\0######", 16), std::string(ansi, 16));
}

// The bytes of a text in code page 1251, from its fixed mapping of the
// Cyrillic letters А to я (U+0410 to U+044F) onto 0xC0 to 0xFF.
std::string windows1251(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    if (c >= 0x0410 && c <= 0x044F) {
      bytes.push_back(static_cast<char>(c - 0x0410 + 0xC0));
    } else {
      EXPECT_LT(c, 0x80) << "no mapping in this test for U+" << std::hex << static_cast<unsigned>(c);
      bytes.push_back(static_cast<char>(c));
    }
  }
  return bytes;
}

TEST_F(MenuItemTest, ThreadLocaleSelectsTheTexts) {
  struct Case {
    LCID locale;
    const std::wstring& menuText;
    const std::wstring& help;
    const std::wstring& browseHelp;
  } cases[] = {
      {MAKELCID(0x0419, SORT_DEFAULT), russianMenuText, russianHelpText, russianBrowseHelpText},
      {MAKELCID(0x0407, SORT_DEFAULT), englishMenuText, englishHelpText, englishBrowseHelpText},
      {MAKELCID(0x040C, SORT_DEFAULT), englishMenuText, englishHelpText, englishBrowseHelpText},
      {MAKELCID(0x0804, SORT_DEFAULT), englishMenuText, englishHelpText, englishBrowseHelpText},
      {MAKELCID(0x0409, SORT_DEFAULT), englishMenuText, englishHelpText, englishBrowseHelpText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "thread locale 0x" << std::hex << c.locale);
    ThreadLocale threadLocale(c.locale);

    Menu host;
    EXPECT_HR(oneIdentifierUsed, menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL));
    EXPECT_EQ(testing_support::narrow(c.menuText), testing_support::narrow(readItem(host.handle, 0).text));

    for (bool browse : {false, true}) {
      CmdPromptTestAccess::browseMode(menu) = browse;
      const std::wstring& expected = browse ? c.browseHelp : c.help;
      wchar_t wide[128] = {};
      EXPECT_HR(S_OK, menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 128));
      EXPECT_EQ(testing_support::narrow(expected), testing_support::narrow(wide));

      char ansi[128];
      std::fill(std::begin(ansi), std::end(ansi), '#');
      EXPECT_HR(S_OK, menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 128));
      EXPECT_EQ(hex(markedBuffer(windows1251(expected).c_str(), expected.size() + 1)),
                hex(markedBuffer(ansi, expected.size() + 1)))
          << "ANSI help text in the thread's code page";
    }
  }
}

TEST(LocalizedString, EntriesOfTheTable) {
  ThreadLocale locale(englishUs);
  struct Case {
    UINT id;
    std::wstring expected;
  } cases[] = {
      {100, L"Dorvanel"},
      {101, englishMenuText},
      {102, englishHelpText},
      {103, englishBrowseHelpText},
      {96, L""},
      {99, L""},
      {104, L""},
      {111, L""},  // empty entries of block 7
      {1, L""},
      {200, L""},
      {0xFFFFFFFF, L""},  // other blocks, and none at all
  };
  for (const Case& c : cases) {
    platform::WideString text;
    text.assign(L"stale");
    EXPECT_HR(S_OK, handler::loadLocalizedString(c.id, text)) << "id " << c.id;
    EXPECT_EQ(c.expected, std::wstring(text.c_str())) << "id " << c.id;
    EXPECT_EQ(c.expected.size(), text.length()) << "id " << c.id;
  }

  ThreadLocale russianLocale(russian);
  platform::WideString text;
  EXPECT_HR(S_OK, handler::loadLocalizedString(101, text));
  EXPECT_EQ(testing_support::narrow(russianMenuText), testing_support::narrow(text.c_str()));
  EXPECT_HR(S_OK, handler::loadLocalizedString(100, text));
  EXPECT_EQ(L"Dorvanel", std::wstring(text.c_str()));
}

TEST(AnsiText, ConversionThatDoesNotFitGivesAnEmptyString) {
  // In UTF-8 each of these characters takes three bytes: more than the two
  // per character that the conversion allows.
  char buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_HR(S_OK, handler::copyAnsiText(L"\u547D\u4EE4\u884C", buffer, 8, CP_UTF8));
  EXPECT_EQ(std::string("\0#######", 8), std::string(buffer, 8));

  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_HR(S_OK, handler::copyAnsiText(L"\u547D\u4EE4\u884C", buffer, 0, CP_UTF8));
  EXPECT_EQ(std::string(8, '#'), std::string(buffer, 8)) << "cchMax 0 writes nothing";

  // Two bytes per character fit: Cyrillic in UTF-8.
  EXPECT_HR(S_OK, handler::copyAnsiText(L"\u0414\u0430", buffer, 8, CP_UTF8));
  EXPECT_EQ(std::string("\xD0\x94\xD0\xB0\0###", 8), std::string(buffer, 8));
}

TEST(AnsiText, LongTextsConvertOnTheHeap) {
  const std::wstring text(1000, L'x');
  std::vector<char> buffer(1100, '#');
  EXPECT_HR(S_OK, handler::copyAnsiText(text.c_str(), buffer.data(), 1100, CP_ACP));
  EXPECT_EQ(std::string(1000, 'x') + '\0' + std::string(99, '#'), std::string(buffer.data(), 1100));

  std::fill(buffer.begin(), buffer.end(), '#');
  platform::failAllocationAfter(0);
  EXPECT_HR(E_OUTOFMEMORY, handler::copyAnsiText(text.c_str(), buffer.data(), 1100, CP_ACP));
  platform::failAllocationAfter(-1);
  EXPECT_EQ(std::string(1100, '#'), std::string(buffer.data(), 1100)) << "nothing written";
}

TEST_F(MenuItemTest, OutOfMemoryInsertsNothing) {
  // Every allocation of a query fails in turn, in browse mode so that the
  // "..." takes one too; each failure leaves the menu as it was.
  ShiftHeld shift;
  for (long successes = 0;; ++successes) {
    SCOPED_TRACE(::testing::Message() << "allocation " << successes << " fails");
    ASSERT_LT(successes, 20) << "a query should need only a few allocations";
    Menu host;
    platform::failAllocationAfter(successes);
    const HRESULT hr = menu->QueryContextMenu(host.handle, 0, 1, 1, CMF_NORMAL);
    platform::failAllocationAfter(-1);
    if (hr == oneIdentifierUsed) {
      EXPECT_EQ(englishMenuText + L"...", readItem(host.handle, 0).text);
      EXPECT_GE(successes, 2) << "text and suffix both allocate";
      break;
    }
    EXPECT_HR(E_OUTOFMEMORY, hr);
    EXPECT_EQ(0, GetMenuItemCount(host.handle));
    EXPECT_TRUE(CmdPromptTestAccess::browseMode(menu)) << "the mode is recorded before the text";
  }

  for (UINT uType : {UINT{GCS_HELPTEXTA}, UINT{GCS_HELPTEXTW}}) {
    std::vector<std::uint8_t> buffer = markedBuffer();
    platform::failAllocationAfter(0);
    EXPECT_HR(E_OUTOFMEMORY,
              menu->GetCommandString(0, uType, nullptr, reinterpret_cast<CHAR*>(buffer.data()), 32))
        << "uType " << uType;
    platform::failAllocationAfter(-1);
    EXPECT_EQ(hex(markedBuffer()), hex(buffer)) << "nothing written";
  }
}

}  // namespace
