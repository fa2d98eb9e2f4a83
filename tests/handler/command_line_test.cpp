// The command-line rule, natively with sanitizers.

#include "handler/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char16_t* folder;
  bool uncCheckDisabled;
  const char16_t* expected;
};

std::string show(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    out += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return out;
}

const Case cases[] = {
    {u"D:\\Work", false, u""},
    {u"C:\\", false, u""},
    {u"C:\\Program Files", false, u""},
    {u"C:\\a\\\\b", false, u""},  // two backslashes, but not at the start
    {u"\\Work", false, u""},      // a single leading backslash
    {u"\\\\srv\\pub", false, u"/s /k pushd \"\\\\srv\\pub\""},
    {u"\\\\srv\\pub", true, u""},
    {u"\\\\srv\\my share", false, u"/s /k pushd \"\\\\srv\\my share\""},
    {u"\\\\?\\C:\\Work", false, u"/s /k pushd \"\\\\?\\C:\\Work\""},
    {u"\\\\?\\C:\\Work", true, u""},
    {u"\\\\", false, u"/s /k pushd \"\\\\\""},                    // purely textual: no server needed
    {u"\\\\srv\\a\"b", false, u"/s /k pushd \"\\\\srv\\a\"b\""},  // nothing escaped
    {u"\\\\srv\\\u0416\u00e9", false, u"/s /k pushd \"\\\\srv\\\u0416\u00e9\""},
    {u"", false, u""},
};

TEST(CommandLine, FollowsTheFolderRule) {
  for (const Case& c : cases) {
    const std::u16string folder = c.folder;
    const std::u16string expected = c.expected;
    SCOPED_TRACE("folder " + show(folder) + (c.uncCheckDisabled ? ", UNC check disabled" : ""));
    const std::size_t size = handler::commandLineSize(folder.data(), folder.size(), c.uncCheckDisabled);
    EXPECT_EQ(expected.size() + 1, size);
    EXPECT_EQ(!expected.empty(), handler::usesPushd(folder.data(), folder.size(), c.uncCheckDisabled));
    // Exactly the size it asked for, plus a guard unit that must stay untouched.
    std::u16string out(size + 1, u'#');
    const std::size_t length =
        handler::buildCommandLine(folder.data(), folder.size(), c.uncCheckDisabled, out.data(), size);
    EXPECT_EQ(expected.size(), length);
    EXPECT_EQ(show(expected), show(out.substr(0, expected.size())));
    EXPECT_EQ(u'\0', out[expected.size()]);
    EXPECT_EQ(u'#', out[size]);
  }
}

TEST(CommandLine, UncFolderLineHasTheDocumentedLength) {
  const std::u16string folder = u"\\\\srv\\pub";
  EXPECT_EQ(24u, handler::commandLineSize(folder.data(), folder.size(), false));  // 23 and the terminator
}

TEST(CommandLine, RefusesATooSmallBufferWithoutWriting) {
  const std::u16string folder = u"\\\\srv\\pub";
  std::u16string out(23, u'#');
  EXPECT_EQ(static_cast<std::size_t>(-1),
            handler::buildCommandLine(folder.data(), folder.size(), false, out.data(), out.size()));
  EXPECT_EQ(std::u16string(23, u'#'), out);
  // An empty command line still needs its terminator.
  char16_t none = u'#';
  EXPECT_EQ(static_cast<std::size_t>(-1), handler::buildCommandLine(u"C:\\", 3, false, &none, 0));
  EXPECT_EQ(u'#', none);
}

TEST(CommandLine, ReportsASizeThatWouldOverflow) {
  // The folder text is never read for its length; only its first two units.
  const char16_t folder[] = u"\\\\srv";
  EXPECT_EQ(0u, handler::commandLineSize(folder, static_cast<std::size_t>(-1) - 5, false));
  EXPECT_EQ(1u, handler::commandLineSize(folder, static_cast<std::size_t>(-1) - 5, true));
}

}  // namespace
