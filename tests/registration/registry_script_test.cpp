// The registry-script parser and its helpers, on this machine with sanitizers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script_render.h"
#include "server/registry_script.h"

namespace {

using script_test::render;
using script_test::widen;
using server::script::Status;

struct Case {
  const char* script;
  const char* expected;
};

// Well-formed scripts and the operations they stand for.
const Case wellFormed[] = {
    {"", ""},
    {" \r\n\t ", ""},
    {"HKCR\r\n{\r\n}\r\n", "HKCR{ }"},
    {"hkcu { } HKEY_LOCAL_MACHINE { } HKU { } HKCC { }", "HKCU{ } HKLM{ } HKU{ } HKCC{ }"},
    {"HKCR { NoRemove CLSID { ForceRemove {6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46} = s 'CmdPrompt Class' "
     "{ InprocServer32 = s 'C:\\it''s here\\Dorvanel.DLL' { val ThreadingModel = s 'Apartment' } } } }",
     "HKCR{ N:CLSID{ F:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}=s:CmdPrompt Class{ "
     "InprocServer32=s:C:\\it's here\\Dorvanel.DLL{ val:ThreadingModel=s:Apartment } } } }"},
    // Keys without blocks, siblings, and blocks without values.
    {"HKCU { A B = s 'x' C { } D }", "HKCU{ A{ } B=s:x{ } C{ } D{ } }"},
    // Markers and keywords ignore case; ForceRemove may precede NoRemove.
    {"HKCU { forceremove noremove K delete Old NOREMOVE VAL v = S 'x' }",
     "HKCU{ F:N:K{ } del:Old N:val:v=s:x }"},
    // Quoted names may hold blanks, braces and keywords, and are never keywords.
    {"HKCU { 'a key' = s '' { val 'val' = s 'it''s' } 'Delete' '{' }",
     "HKCU{ a key=s:{ val:val=s:it's } Delete{ } {{ } }"},
    // An unquoted token runs to the next blank, quotes and all.
    {"HKCU { it's = s x }", "HKCU{ it's=s:x{ } }"},
    // Every value type.
    {"HKCU { K { val E = e '%%SystemRoot%%' val M = m 'one\\0two' val D = d '4294967295' "
     "val H = d 0x1F val Q = q '18446744073709551615' val B = b '00FFa5' val Z = b '' } }",
     "HKCU{ K{ val:E=e:%%SystemRoot%% val:M=m:one|two|| val:D=d:4294967295 val:H=d:31 "
     "val:Q=q:18446744073709551615 val:B=b:00ffa5 val:Z=b: } }"},
    // An empty value name is the default value.
    {"HKCU { K { val '' = s 'x' } }", "HKCU{ K{ val:=s:x } }"},
};

TEST(RegistryScriptParser, WellFormedScriptsGiveTheirOperations) {
  for (const Case& c : wellFormed) {
    EXPECT_EQ(c.expected, render(widen(c.script))) << "script: " << c.script;
  }
  // A key name of 255 characters is the longest the registry takes.
  EXPECT_EQ("HKCU{ " + std::string(255, 'k') + "{ } }",
            render(widen("HKCU { " + std::string(255, 'k') + " }")));
}

// Malformed scripts: the error and where it is.
const Case malformed[] = {
    {"HKCR", "error unexpectedEnd at 4"},
    {"HKCR {", "error unexpectedEnd at 6"},
    {"HKCR { K {", "error unexpectedEnd at 10"},
    {"HKCR { } }", "error unknownRootKey at 9"},
    {"HKXX { }", "error unknownRootKey at 0"},
    {"HKCR{ }", "error unknownRootKey at 0"},  // a brace glued to a word is part of it
    {"'HKCR' { }", "error unknownRootKey at 0"},
    {"HKCR K { }", "error expectedOpenBrace at 5"},
    {"HKCR = s 'x' { }", "error expectedOpenBrace at 5"},
    {"HKCR { = s 'x' }", "error unexpectedToken at 7"},
    {"HKCR { { }", "error unexpectedToken at 7"},
    {"HKCR { K = s 'x }", "error unterminatedString at 13"},
    {"HKCR { K = s 'x'y }", "error unexpectedToken at 16"},
    {"HKCR { K = x 'y' }", "error unknownValueType at 11"},
    {"HKCR { K = 's' 'y' }", "error unknownValueType at 11"},
    {"HKCR { K = string 'y' }", "error unknownValueType at 11"},
    {"HKCR { K = s }", "error unexpectedToken at 13"},
    {"HKCR { K = s", "error unexpectedEnd at 12"},
    {"HKCR { K = }", "error unknownValueType at 11"},
    {"HKCR { val }", "error unexpectedToken at 11"},
    {"HKCR { val V s 'x' }", "error expectedEquals at 13"},
    {"HKCR { val V", "error unexpectedEnd at 12"},
    {"HKCR { ForceRemove val V = s 'x' }", "error unexpectedToken at 19"},
    {"HKCR { Delete }", "error unexpectedToken at 14"},
    {"HKCR { Delete", "error unexpectedEnd at 13"},
    {"HKCR { NoRemove }", "error unexpectedToken at 16"},
    {"HKCR { K = d '' }", "error badNumber at 13"},
    {"HKCR { K = d '-1' }", "error badNumber at 13"},
    {"HKCR { K = d '12x' }", "error badNumber at 13"},
    {"HKCR { K = d '0x' }", "error badNumber at 13"},
    {"HKCR { K = d '4294967296' }", "error badNumber at 13"},
    {"HKCR { K = d 0x100000000 }", "error badNumber at 13"},
    {"HKCR { K = q '18446744073709551616' }", "error badNumber at 13"},
    {"HKCR { K = b 'ABC' }", "error badBinary at 13"},
    {"HKCR { K = b 'GG' }", "error badBinary at 13"},
    {"HKCR { '' }", "error badName at 7"},
    {"HKCR { Software\\Classes }", "error badName at 7"},
    {"HKCR { 'a\\b' = s 'x' }", "error badName at 7"},
    {"HKCR { Delete a\\b }", "error badName at 14"},
};

TEST(RegistryScriptParser, MalformedScriptsAreRejectedWithTheirPlace) {
  for (const Case& c : malformed) {
    EXPECT_EQ(c.expected, render(widen(c.script))) << "script: " << c.script;
  }
  // A key name over the registry's 255 characters, and a null inside the text.
  EXPECT_EQ("error badName at 7", render(widen("HKCU { " + std::string(256, 'k') + " }")));
  std::u16string withNull = u"HKCU { K }";
  withNull[8] = u'\0';
  EXPECT_EQ("error invalidCharacter at 8", render(withNull));
}

// What the registrar applies is all or nothing: no prefix of a script that
// cuts into its block is accepted.
TEST(RegistryScriptParser, EveryTruncationInsideABlockIsAnError) {
  const std::u16string script = widen(
      "HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {X} = s 'Class'\r\n\t\t{\r\n"
      "\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t}\r\n\t}\r\n}\r\n");
  const std::size_t lastBrace = script.rfind(u'}');
  for (std::size_t length = 1; length <= lastBrace; ++length) {
    const auto result = server::script::parseScript(script.data(), length, nullptr, 0);
    EXPECT_NE(Status::ok, result.status) << "accepted the first " << length << " characters";
    EXPECT_NE(Status::bufferTooSmall, result.status) << "accepted the first " << length << " characters";
  }
  EXPECT_EQ(Status::bufferTooSmall,
            server::script::parseScript(script.data(), lastBrace + 1, nullptr, 0).status);
}

// A cheap stand-in for the fuzz target (registry_script_fuzz.cpp) that runs
// with every build: random edits of a good script either fail to parse or
// give operations whose blocks nest (render marks a broken end link).
TEST(RegistryScriptParser, EditedScriptsParseConsistentlyOrFail) {
  const std::string base =
      "HKCR { NoRemove CLSID { ForceRemove {X} = s 'it''s' { val T = s 'A' val D = d 0x10 val B = b '0f' } }"
      " Delete Old NoRemove val M = m 'a\\0b' } HKCU { K }";
  const std::string alphabet = "{}='% \r\n\\0xsdmbqeNoRemove";
  std::uint32_t seed = 12345;
  auto random = [&seed](std::size_t bound) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::size_t>((seed >> 8) % bound);
  };
  int parsed = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string script = base;
    for (int edits = 1 + static_cast<int>(random(3)); edits > 0; --edits) {
      const std::size_t at = random(script.size());
      const char c = alphabet[random(alphabet.size())];
      switch (random(3)) {
        case 0:
          script.insert(script.begin() + static_cast<std::ptrdiff_t>(at), c);
          break;
        case 1:
          script.erase(at, 1);
          break;
        default:
          script[at] = c;
          break;
      }
    }
    const std::string result = render(widen(script));
    EXPECT_EQ(std::string::npos, result.find('!')) << script << "\n" << result;
    parsed += result.rfind("error", 0) != 0;
  }
  EXPECT_GT(parsed, 100);  // the edits leave enough scripts intact to check nesting
}

TEST(RegistryScriptParser, WritesNoMoreOperationsThanItsStorageHolds) {
  const std::u16string script = widen("HKCU { A { B } C = s 'x' }");
  const auto sizing = server::script::parseScript(script.data(), script.size(), nullptr, 0);
  ASSERT_EQ(Status::bufferTooSmall, sizing.status) << script_test::statusName(sizing.status);
  EXPECT_EQ(8u, sizing.count);  // root, A, B, end, end, C, end, end
  EXPECT_EQ(3u, sizing.depth);
  for (std::size_t capacity = 0; capacity < sizing.count; ++capacity) {
    std::vector<server::script::Operation> ops(capacity + 1);
    ops[capacity].kind = server::script::OpKind::deleteKey;  // a guard that must stay
    const auto result = server::script::parseScript(script.data(), script.size(), ops.data(), capacity);
    EXPECT_EQ(Status::bufferTooSmall, result.status) << "capacity " << capacity;
    EXPECT_EQ(sizing.count, result.count) << "capacity " << capacity;
    EXPECT_EQ(server::script::OpKind::deleteKey, ops[capacity].kind) << "capacity " << capacity;
  }
  std::vector<server::script::Operation> ops(sizing.count);
  const auto result = server::script::parseScript(script.data(), script.size(), ops.data(), ops.size());
  EXPECT_EQ(Status::ok, result.status) << script_test::statusName(result.status);
  EXPECT_EQ("HKCU{ A{ B{ } } C=s:x{ } }", script_test::renderOperations(ops.data(), ops.size()));
}

// Expands `script` and renders the result or the error.
std::string expand(const std::string& script,
                   const std::vector<std::pair<std::u16string, std::u16string>>& map,
                   std::size_t capacity = 1000) {
  std::vector<server::script::Replacement> replacements;
  for (const auto& [name, value] : map) {
    replacements.push_back({name.data(), name.size(), value.data(), value.size()});
  }
  const std::u16string text = widen(script);
  std::u16string out(capacity, u'#');
  std::size_t needed = 0;
  std::size_t offset = 0;
  const Status status =
      server::script::expandReplacements(text.data(), text.size(), replacements.data(), replacements.size(),
                                         out.data(), capacity, &needed, &offset);
  if (status == Status::bufferTooSmall) {
    return "needs " + std::to_string(needed) + ", wrote " + script_test::narrow(out);
  }
  if (status != Status::ok) {
    return std::string("error ") + script_test::statusName(status) + " at " + std::to_string(offset);
  }
  return script_test::narrow(out.substr(0, needed));
}

TEST(RegistryScriptReplacements, NamesMatchWithoutRegardToCase) {
  const std::vector<std::pair<std::u16string, std::u16string>> map = {
      {u"Module", u"C:\\it''s\\D.DLL"}, {u"Module_Raw", u"raw"}, {u"APPID", u"{A}"}, {u"module", u"second"}};
  EXPECT_EQ("s 'C:\\it''s\\D.DLL'", expand("s '%MODULE%'", map));
  EXPECT_EQ("raw {A} C:\\it''s\\D.DLL", expand("%module_raw% %AppId% %Module%", map));
  EXPECT_EQ("100% %x", expand("100%% %%x", map));
  EXPECT_EQ("", expand("", map));
  EXPECT_EQ("error unknownReplacement at 3", expand("s '%MODUL%'", map));
  EXPECT_EQ("error unknownReplacement at 0", expand("% %", map));
  EXPECT_EQ("error unterminatedReplacement at 3", expand("s '%MODULE'", map));
  EXPECT_EQ("error unterminatedReplacement at 2", expand("a %", map));
  EXPECT_EQ("needs 7, wrote {A} r", expand("%APPID% %Module_Raw%", map, 5));
  EXPECT_EQ("needs 3, wrote ", expand("{A}", {{u"A", u"x"}}, 0));
}

TEST(RegistryScriptHelpers, EscapeSingleQuotesDoublesEachQuoteWithinTheCapacity) {
  struct {
    const char* source;
    std::size_t capacity;
    const char* expected;
  } cases[] = {
      {"C:\\it's here\\a.dll", 520, "C:\\it''s here\\a.dll"},
      {"''", 520, "''''"},
      {"", 520, ""},
      {"abc", 4, "abc"},
      {"abcd", 4, "abc"},
      {"ab'", 4, "ab'"},  // the quote fits, its double does not
      {"a'b", 4, "a''"},
      {"a'", 3, "a'"},
      {"abc", 1, ""},
  };
  for (const auto& c : cases) {
    std::u16string out(c.capacity + 1, u'#');
    const std::size_t length =
        server::script::escapeSingleQuotes(out.data(), c.capacity, widen(c.source).c_str());
    EXPECT_EQ(c.expected, script_test::narrow(out.substr(0, length))) << c.source << " in " << c.capacity;
    EXPECT_EQ(u'\0', out[length]) << c.source;
    EXPECT_EQ(u'#', out[c.capacity]) << c.source << ": wrote past the capacity";
  }
  char16_t untouched = u'#';
  EXPECT_EQ(0u, server::script::escapeSingleQuotes(&untouched, 0, u"abc"));
  EXPECT_EQ(u'#', untouched);
}

}  // namespace
