#pragma once
// Test helper: parses a registry script and renders its operations as one
// line, so that a test states the expected structure as text:
//   HKCR{ N:CLSID{ F:Name=s:Text{ val:Name=d:5 } } del:Old }
// root and key open with '{' and every block closes with '}' (a key without
// a block of its own too); F: and N: mark ForceRemove and NoRemove; data is
// shown unescaped, m strings joined by '|', d and q in decimal, b in hex.

#include <string>

#include "server/registry_script.h"

namespace script_test {

// The rendering, or "error <status> at <offset>" when the script does not parse.
std::string render(const std::u16string& text);

// The operations of a script that parses, checked for consistent end links.
std::string renderOperations(const server::script::Operation* ops, std::size_t count);

const char* statusName(server::script::Status status);

std::u16string widen(const std::string& text);
std::string narrow(const std::u16string& text);

}  // namespace script_test
