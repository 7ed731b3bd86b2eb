// The screen log: run/screen.log in the machine root, one line for each
// thing a user would have seen. Tests, automation and operators read it,
// so its format is a contract:
//
//   PROGRAM KIND "CAPTION" "TEXT"[ NAME=VALUE]...
//
// PROGRAM is the program's short name (spaces become '_'). CAPTION and
// TEXT are written in double quotes with these escapes: \\ for a
// backslash, \" for a quote, \n, \r and \t, and \xHH for any other byte
// below 0x20 and for 0x7F; other bytes are written as they are. NAME=VALUE
// fields carry no spaces. The kinds:
//
//   window-shown  "TITLE" ""            a top-level window became visible
//   window-closed "TITLE" ""            ... was hidden or destroyed
//   dialog-shown  "CAPTION" "TEXTS"     a dialog became visible; TEXTS are
//                                       its visible static texts and read-
//                                       only edits, in tab order, joined
//                                       with newlines
//   dialog-closed "CAPTION" ""          a visible dialog was hidden (e.g.
//                                       by EndDialog) or destroyed
//   dialog-text   "CAPTION" "TEXT"      one of those texts of a shown
//                                       dialog now reads TEXT
//   messagebox    "CAPTION" "TEXT" buttons=OK|OKCANCEL|ABORTRETRYIGNORE|
//                 YESNOCANCEL|YESNO|RETRYCANCEL [icon=HAND|QUESTION|
//                 EXCLAMATION|ASTERISK] answer=IDOK|IDCANCEL|... [refused=
//                 ANSWER: a scripted answer that is not one of the buttons]
//
// for example
//   kolm32 dialog-text "Tarvizone Redirector" "\nAttempting to connect to service host:1"
//   kolm32 messagebox "ERROR" "No VxD found from kolm32!" buttons=OK answer=IDOK
//
// Each line is appended with one write() to a file opened with O_APPEND,
// so the lines of several processes never interleave.
//
// The log is bounded: once a line takes it to kScreenLogLimit bytes or
// more, it is renamed to screen.log.1 (replacing the older one) in one
// step, and the next line starts a new screen.log. Writers append under a
// shared flock of the log and rotate under an exclusive one, so no line is
// ever appended to a log that was already moved aside, and a reader that
// has read the old log to its end has seen all of it.
#pragma once

#include "kolm/automation.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kolm::platform {

using ScreenFields = std::vector<std::pair<std::string, std::string>>;

// escape_screen_text: kolm/automation.h.
// The whole line, newline included.
std::string format_screen_line(std::string_view program, std::string_view kind, std::string_view caption,
                               std::string_view text, const ScreenFields& fields = {});

// This program's name as the screen log writes it.
std::string screen_program_name();
std::filesystem::path screen_log_path();
// Where a full log `log` is moved: the same name with ".1".
std::filesystem::path rotated_screen_log_path(const std::filesystem::path& log);

constexpr uint64_t kScreenLogLimit = 1024 * 1024;

// Appends one formatted line; false when it could not be written whole.
bool append_screen_line(const std::string& line);

} // namespace kolm::platform
