// End-to-end tests: Dorvanel.DLL registered with the real regsvr32 and driven
// by shellhost.exe, which builds context menus the way Explorer does. They
// check what a user sees (the menu item, its help text, its verb), that
// choosing it starts the interpreter named by "comspec" in the folder, and
// that after unregistering no handler is found.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testing_support::buildFile;
using testing_support::dllPath;
using testing_support::narrow;
using testing_support::TempFolder;

struct HostRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // standard output and error, UTF-8
};

// Runs a program with a command line, collecting its output, and waits for it.
HostRun runProgram(const std::wstring& commandLine) {
  HostRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return run;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    ADD_FAILURE() << "cannot start " << narrow(commandLine) << ": error " << GetLastError();
    CloseHandle(readEnd);
    return run;
  }
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    run.output.append(buffer, read);
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

std::wstring quote(const std::wstring& text) { return L"\"" + text + L"\""; }

HostRun host(const std::wstring& arguments) {
  std::wstring program = buildFile(L"shellhost.exe");
  EXPECT_FALSE(program.empty()) << "shellhost.exe not found above the test program";
  return runProgram(quote(program) + L" " + arguments);
}

DWORD regsvr32(const std::wstring& arguments) { return runProgram(L"regsvr32.exe /s " + arguments).exitCode; }

bool contains(const std::string& output, const std::wstring& text) {
  return output.find(narrow(text)) != std::string::npos;
}

#define EXPECT_OUTPUT_HAS(run, text) \
  EXPECT_TRUE(contains((run).output, text)) << "missing: " << narrow(text) << "\nin:\n" << (run).output
#define EXPECT_OUTPUT_LACKS(run, text) \
  EXPECT_FALSE(contains((run).output, text)) << "unexpected: " << narrow(text) << "\nin:\n" << (run).output

// Reads the probe's log, waiting a bounded time for `lines` lines.
std::vector<std::string> probeLines(const std::wstring& log, size_t lines) {
  std::vector<std::string> found;
  for (int attempt = 0; attempt < 200; ++attempt) {
    found.clear();
    HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::string text;
      char buffer[4096];
      DWORD read = 0;
      while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
      }
      CloseHandle(file);
      for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        found.push_back(text.substr(start, end - start));
      }
    }
    if (found.size() >= lines) {
      return found;
    }
    Sleep(50);
  }
  ADD_FAILURE() << "the probe logged " << found.size() << " line(s) within 10 s; expected " << lines;
  return found;
}

// The working folder of a probe's log line.
std::string folderOf(const std::string& line) { return line.substr(0, line.find('\t')); }

class HostEndToEnd : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_FALSE(dllPath().empty()) << "Dorvanel.DLL not found above the test program";
    ASSERT_EQ(0u, regsvr32(quote(dllPath()))) << "regsvr32 " << narrow(dllPath());
  }
  static void TearDownTestSuite() { regsvr32(L"/u " + quote(dllPath())); }

  void SetUp() override {
    // The interpreter that a chosen item starts: the probe, which records
    // where it was started.
    log_ = folder_.path() + L"\\probe.log";
    wchar_t saved[MAX_PATH * 2] = {};
    hadComspec_ = GetEnvironmentVariableW(L"comspec", saved, MAX_PATH * 2) > 0;
    savedComspec_ = saved;
    SetEnvironmentVariableW(L"comspec", buildFile(L"command_probe.exe").c_str());
    SetEnvironmentVariableW(L"DORVANEL_PROBE_LOG", log_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"comspec", hadComspec_ ? savedComspec_.c_str() : nullptr);
    SetEnvironmentVariableW(L"DORVANEL_PROBE_LOG", nullptr);
  }

  TempFolder folder_;
  std::wstring log_;
  bool hadComspec_ = false;
  std::wstring savedComspec_;
};

// The item, its texts and verb in the menus of a folder, a drive and a
// folder background; the DLL is unloaded once everything is released.
TEST_F(HostEndToEnd, MenuShowsTheItemForFolderDriveAndBackground) {
  std::wstring target = folder_.makeFolder(L"Work Folder");
  struct Case {
    std::wstring arguments;
    std::wstring handlerKey;
  } cases[] = {
      {quote(target), L"Directory\\shellex\\ContextMenuHandlers\\CmdPrompt"},
      {L"C:\\", L"Drive\\shellex\\ContextMenuHandlers\\CmdPrompt"},
      {L"--background " + quote(target), L"Directory\\Background\\shellex\\ContextMenuHandlers\\CmdPrompt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.arguments));
    HostRun run = host(c.arguments);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_OUTPUT_HAS(run, c.handlerKey + L" -> {6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}");
    EXPECT_OUTPUT_HAS(run, L"ThreadingModel Apartment");
    EXPECT_OUTPUT_HAS(run, L"The menu (1 item):");
    EXPECT_OUTPUT_HAS(run, L"1. Command Prompt   [mnemonic C] [icon ");
    EXPECT_OUTPUT_HAS(run, L"text:         \"&Command Prompt\"");
    EXPECT_OUTPUT_HAS(run, L"offset 0 of CmdPrompt");
    EXPECT_OUTPUT_HAS(run, L"help (wide):  \"Run Command Prompt here\"");
    EXPECT_OUTPUT_HAS(run, L"help (ANSI):  \"Run Command Prompt here\"");
    EXPECT_OUTPUT_HAS(run, L"verb (wide):  \"Dorvanel\"");
    EXPECT_OUTPUT_HAS(run, L"Dorvanel.DLL was unloaded");
  }
}

TEST_F(HostEndToEnd, RussianThreadLocaleGivesRussianTexts) {
  HostRun run = host(L"--lang ru " + quote(folder_.path()));
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_OUTPUT_HAS(run, L"text:         \"&Командная строка\"");
  EXPECT_OUTPUT_HAS(run, L"help (wide):  \"Запустить командную строку в этой папке\"");
  // The ANSI help text arrives in code page 1251 and reads the same.
  EXPECT_OUTPUT_HAS(run, L"help (ANSI):  \"Запустить командную строку в этой папке\" in code page 1251");
  EXPECT_OUTPUT_HAS(run, L"verb (wide):  \"Dorvanel\"");
}

// Shift held while the menu is built: the item asks for a subfolder first.
TEST_F(HostEndToEnd, ShiftGivesTheBrowseItem) {
  HostRun run = host(L"--shift " + quote(folder_.path()));
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_OUTPUT_HAS(run, L"text:         \"&Command Prompt...\"");
  EXPECT_OUTPUT_HAS(run, L"help (wide):  \"Browse this folder for Command Prompt\"");

  // Without Shift the next menu is the plain one again.
  HostRun plain = host(quote(folder_.path()));
  EXPECT_OUTPUT_HAS(plain, L"text:         \"&Command Prompt\"\n");
}

// Choosing the item, by position or by verb, starts "comspec" in the folder.
TEST_F(HostEndToEnd, ChoosingTheItemStartsTheInterpreterInTheFolder) {
  std::wstring target = folder_.makeFolder(L"Project Files");
  struct Case {
    std::wstring arguments;
    std::wstring expectedFolder;
    std::wstring invoked;
  } cases[] = {
      {L"--invoke " + quote(target), target, L"InvokeCommand(offset 0) on CmdPrompt -> 0x00000000 (S_OK)"},
      {L"--verb Dorvanel " + quote(target), target,
       L"InvokeCommand(verb \"Dorvanel\", Unicode record) on CmdPrompt -> 0x00000000 (S_OK)"},
      {L"--verb Dorvanel --ansi " + quote(target), target,
       L"InvokeCommand(verb \"Dorvanel\", ANSI record) on CmdPrompt -> 0x00000000 (S_OK)"},
      {L"--invoke --background " + quote(target), target, L"InvokeCommand(offset 0) on CmdPrompt"},
      {L"--invoke C:\\", L"C:\\", L"InvokeCommand(offset 0) on CmdPrompt"},
  };
  size_t expectedLines = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.arguments));
    HostRun run = host(c.arguments);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_OUTPUT_HAS(run, c.invoked);
    std::vector<std::string> lines = probeLines(log_, ++expectedLines);
    ASSERT_EQ(expectedLines, lines.size());
    EXPECT_EQ(narrow(c.expectedFolder), folderOf(lines.back())) << lines.back();
  }
}

TEST_F(HostEndToEnd, AForeignVerbIsRefusedAndStartsNothing) {
  for (const wchar_t* verb : {L"dorvanel", L"Open"}) {
    SCOPED_TRACE(narrow(verb));
    HostRun run = host(L"--verb " + std::wstring(verb) + L" " + quote(folder_.path()));
    EXPECT_EQ(4u, run.exitCode) << run.output;
    EXPECT_OUTPUT_HAS(run, L"-> 0x80070057 (E_INVALIDARG)");
    EXPECT_OUTPUT_HAS(run, L"the command was not carried out");
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(log_.c_str())) << "the probe was started";
}

// A selection of two folders: the handler declines it and the host drops it,
// as Explorer does, so the menu has no item.
TEST_F(HostEndToEnd, TwoFoldersGiveNoItem) {
  std::wstring first = folder_.makeFolder(L"a");
  std::wstring second = folder_.makeFolder(L"b");
  HostRun run = host(quote(first) + L" " + quote(second));
  EXPECT_EQ(4u, run.exitCode) << run.output;
  EXPECT_OUTPUT_HAS(run,
                    L"Initialize(no item-ID list, CF_HDROP of 2 path(s), class key Directory) -> "
                    L"0x80070057 (E_INVALIDARG)");
  EXPECT_OUTPUT_HAS(run, L"The menu (0 items):");
}

TEST_F(HostEndToEnd, MissingFolderAndBadUsageFailClearly) {
  HostRun missing = host(quote(folder_.path() + L"\\no such folder"));
  EXPECT_EQ(2u, missing.exitCode) << missing.output;
  EXPECT_OUTPUT_HAS(missing, L"shellhost: no such folder: ");

  HostRun usage = host(L"--invoke --verb Dorvanel " + quote(folder_.path()));
  EXPECT_EQ(1u, usage.exitCode) << usage.output;
  EXPECT_OUTPUT_HAS(usage, L"--invoke and --verb exclude each other");
}

// Last: unregistered, no handler is found; registered again, it is back.
TEST_F(HostEndToEnd, UnregisteredTheHostFindsNoHandler) {
  ASSERT_EQ(0u, regsvr32(L"/u " + quote(dllPath())));
  for (const std::wstring& arguments :
       {quote(folder_.path()), std::wstring(L"C:\\"), L"--background " + quote(folder_.path())}) {
    SCOPED_TRACE(narrow(arguments));
    HostRun run = host(arguments);
    EXPECT_EQ(3u, run.exitCode) << run.output;
    EXPECT_OUTPUT_HAS(run, L"shellhost: no context-menu handler is registered for the ");
    EXPECT_OUTPUT_LACKS(run, L"CmdPrompt");
  }
  ASSERT_EQ(0u, regsvr32(quote(dllPath())));
  EXPECT_EQ(0u, host(quote(folder_.path())).exitCode);
}

}  // namespace
