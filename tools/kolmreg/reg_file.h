// REGEDIT4 .reg text: what kolmreg imports and exports.
//
//   REGEDIT4
//   <blank>
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tarvizone]
//   @="default value"
//   "Name"="text with \" and \\"
//   "Count"=dword:0000000a
//   "Blob"=hex:01,02,ff
//   "Path"=hex(2):25,00
//   <blank>
//
// Export writes LF line ends (import takes LF and CRLF), the key and then
// each subkey in enumeration order, each section followed by one blank
// line. A REG_SZ is written as a quoted string only when its bytes are
// exactly a text without NUL, CR or LF followed by one NUL; any other REG_SZ
// is written as hex(1): so that it comes back byte for byte. REG_DWORD of 4
// bytes is dword: with 8 lower-case digits; REG_BINARY hex:, other types
// hex(N): with N in lower-case hex. Hex lists are folded as regedit folds
// them: once a line reaches 77 columns (its comma counted) it ends with
// "\" and the next starts with two spaces.
//
// Import also takes "[-KEY]" (delete the key and its subtree), "name"=-
// and @=- (delete a value), comment lines starting with ";" and blank lines
// anywhere; any other line is an error reported with its line number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kolm/registry_tree.h"

namespace kolm::kolmreg {

struct ParsedEdit {
    platform::RegEdit edit;
    size_t line = 0; // where it was written, for error messages
};

struct ParseError {
    size_t line = 0;
    std::string message;
};

// A key or value name holding a CR or LF cannot be written in this format
// (each name sits on one line), so no such name is ever accepted.
bool name_has_line_break(std::string_view name);

// Parses a whole file into edits in file order.
bool parse_reg_file(std::string_view text, std::vector<ParsedEdit>& edits, ParseError& error);

// Writes the key at `path` (as stored) below `hive` and its subtree.
// False with a reason when a name cannot be written in this format (a CR
// or LF in it).
bool format_reg_file(platform::Hive hive, std::string_view path, const platform::RegKeyNode& node,
                     std::string& out, std::string& error);

} // namespace kolm::kolmreg
