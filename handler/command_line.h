#pragma once
// The interpreter's command line for a working folder. A folder that begins
// with two backslashes (a UNC path, or one written with the \\?\ prefix) is
// opened through "pushd", so that the interpreter maps a drive letter for it,
// unless the interpreter itself allows UNC current folders. Every other
// folder gets an empty command line: the folder is only the new process's
// working folder and never part of its arguments.
//
// Pure logic on UTF-16 code units: no Windows headers, so that it is tested
// natively as well (with char16_t) as in the DLL (with wchar_t).

#include <cstddef>

namespace handler {

namespace command_line_detail {
inline constexpr char pushdPrefix[] = "/s /k pushd \"";
inline constexpr std::size_t pushdPrefixLength = sizeof pushdPrefix - 1;
}  // namespace command_line_detail

// True when the folder's command line uses the "pushd" form. The test is
// purely textual: nothing checks that a server and share follow.
template <typename Char>
constexpr bool usesPushd(const Char* folder, std::size_t length, bool uncCheckDisabled) noexcept {
  return !uncCheckDisabled && length >= 2 && folder[0] == Char('\\') && folder[1] == Char('\\');
}

// Code units the command line needs, its terminator included; 0 when that
// count does not fit in a size_t.
template <typename Char>
constexpr std::size_t commandLineSize(const Char* folder, std::size_t length,
                                      bool uncCheckDisabled) noexcept {
  if (!usesPushd(folder, length, uncCheckDisabled)) {
    return 1;
  }
  constexpr std::size_t fixed = command_line_detail::pushdPrefixLength + 2;  // closing quote, terminator
  return length > static_cast<std::size_t>(-1) - fixed ? 0 : length + fixed;
}

// Writes the command line and its terminator into `out`, which holds
// `capacity` code units. Returns the command line's length without the
// terminator, or -1 (as size_t) when `out` is too small; then nothing is
// written.
template <typename Char>
constexpr std::size_t buildCommandLine(const Char* folder, std::size_t length, bool uncCheckDisabled,
                                       Char* out, std::size_t capacity) noexcept {
  const std::size_t size = commandLineSize(folder, length, uncCheckDisabled);
  if (size == 0 || capacity < size) {
    return static_cast<std::size_t>(-1);
  }
  std::size_t at = 0;
  if (usesPushd(folder, length, uncCheckDisabled)) {
    for (std::size_t i = 0; i < command_line_detail::pushdPrefixLength; ++i) {
      out[at++] = static_cast<Char>(command_line_detail::pushdPrefix[i]);
    }
    for (std::size_t i = 0; i < length; ++i) {
      out[at++] = folder[i];
    }
    out[at++] = Char('"');
  }
  out[at] = Char(0);
  return at;
}

}  // namespace handler
