#pragma once
// Registry scripts in the registrar's text format, as pure code: expansion of
// %NAME% replacements and parsing into a flat list of operations that the
// registrar then applies. No Windows headers and no allocation: every result
// goes to storage the caller provides, so untrusted text can be fed straight in.
//
// The format:
//   script  := { root '{' body '}' }
//   root    := HKCR | HKCU | HKLM | HKU | HKPD | HKCC | HKDD (or HKEY_... long forms)
//   body    := { entry }
//   entry   := 'Delete' name
//            | ['ForceRemove'] ['NoRemove'] name ['=' value] ['{' body '}']
//            | ['NoRemove'] 'val' name '=' value
//   value   := type data      type := s | e | m | d | q | b
// Tokens are separated by blanks (space, tab, CR, LF). A token in single quotes
// may hold blanks and stands for a doubled quote with one quote; a quoted token
// is always a name or data, never a keyword or brace. Keywords, roots and type
// letters are matched without regard to case.

#include <cstddef>
#include <cstdint>

namespace server::script {

enum class Status : std::uint8_t {
  ok,
  bufferTooSmall,           // the caller's storage is too small; the needed size is reported
  unknownReplacement,       // %NAME% names no replacement
  unterminatedReplacement,  // a % without its closing %
  invalidCharacter,         // a null character inside the text
  unexpectedEnd,            // the text ends inside a block or an entry
  unknownRootKey,
  expectedOpenBrace,  // a root not followed by '{'
  unexpectedToken,    // a brace, '=' or keyword where a name belongs, or text glued to a quote
  unterminatedString,
  expectedEquals,  // 'val' name not followed by '='
  unknownValueType,
  badNumber,  // d or q data that is not a decimal or 0x-hexadecimal number in range
  badBinary,  // b data that is not an even number of hexadecimal digits
  badName,    // an empty key name, one over 255 characters or one holding a backslash
};

// A named text to put in place of %NAME%.
struct Replacement {
  const char16_t* name;
  std::size_t nameLength;
  const char16_t* value;
  std::size_t valueLength;
};

// Copies `text` to `out` with each %NAME% replaced by the value of the first
// replacement of that name (compared without regard to ASCII case) and each
// %% by one %. *needed receives the length of the whole result whatever the
// status of the copy (bufferTooSmall when it exceeds `capacity`; nothing
// beyond `capacity` is written). On an error, *errorOffset is where it is.
Status expandReplacements(const char16_t* text, std::size_t length, const Replacement* replacements,
                          std::size_t count, char16_t* out, std::size_t capacity, std::size_t* needed,
                          std::size_t* errorOffset) noexcept;

enum class RootKey : std::uint8_t {
  classesRoot,
  currentUser,
  localMachine,
  users,
  performanceData,
  currentConfig,
  dynData
};

enum class ValueType : std::uint8_t {
  none,          // a key without a default value
  string,        // s: REG_SZ
  expandString,  // e: REG_EXPAND_SZ
  multiString,   // m: REG_MULTI_SZ, the strings separated by \0 in the data
  dword,         // d: REG_DWORD
  qword,         // q: REG_QWORD
  binary         // b: REG_BINARY, two hexadecimal digits a byte
};

enum class OpKind : std::uint8_t {
  root,       // opens a root block; `root`, `end`
  key,        // opens a key; `name`, `noRemove`, `forceRemove`, default value, `end`
  value,      // a named value of the enclosing key; `name`, `noRemove`, value
  deleteKey,  // deletes a subkey and its tree on registration; `name`
  end         // closes the innermost root or key
};

// A name or value as it stands in the text (pointing into it). A quoted one
// may still hold doubled quotes; copyUnescaped turns them into one each.
struct Text {
  const char16_t* chars;
  std::size_t length;
  bool quoted;
};

struct Operation {
  OpKind kind;
  RootKey root;
  bool noRemove;
  bool forceRemove;
  Text name;
  ValueType type;  // `none` for a key without a default value
  Text data;
  std::uint64_t number;  // the value of d and q data
  std::size_t end;       // for root and key: the index of the matching end
};

struct ParseResult {
  Status status;
  std::size_t count;        // operations the whole script needs
  std::size_t depth;        // deepest nesting of open roots and keys
  std::size_t errorOffset;  // where a parse error was found
};

// Parses the whole of `text` (already expanded). Writes at most `capacity`
// operations; when the script needs more, the status is bufferTooSmall and
// `count` says how many to provide. A parse error is reported whatever the
// capacity, so a call with no storage validates the script.
ParseResult parseScript(const char16_t* text, std::size_t length, Operation* ops,
                        std::size_t capacity) noexcept;

// Copies a name or string with each doubled quote made single; `out` needs
// text.length units. Returns the number written (no terminator).
std::size_t copyUnescaped(const Text& text, char16_t* out) noexcept;

// The REG_MULTI_SZ form of m data: the strings separated by nulls, ended by
// two nulls. `out` needs text.length + 2 units. Returns the number written.
std::size_t copyMultiString(const Text& text, char16_t* out) noexcept;

// The bytes of b data (validated by the parser); `out` needs text.length / 2.
std::size_t copyBinary(const Text& text, std::uint8_t* out) noexcept;

// Copies the terminated `source` with every single quote doubled, writing at
// most capacity - 1 characters and a terminator; a doubled quote that does
// not fit is dropped and copying stops there. Returns the length written.
std::size_t escapeSingleQuotes(char16_t* destination, std::size_t capacity, const char16_t* source) noexcept;

}  // namespace server::script
