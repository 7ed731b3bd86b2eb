// The silent-mode response file as the setup program reads it: sections of
// NAME=VALUE lines, the dialogs in [DlgOrder], and each dialog's answers in
// a section of its own name.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <variant>

namespace kolm::second {

// Result codes of the setup program's log ([ResponseResult] ResultCode).
enum ResultCode : int {
    k_success = 0,
    k_general_error = -1,
    k_data_not_found = -3,   // an answer the setup needs is missing or unusable
    k_no_response_file = -5, // the response file does not exist or cannot be read
    k_dialogs_out_of_order = -12,
    k_cannot_create_folder = -51,
    k_cannot_access_file = -52,
};

struct Answers {
    std::string dest_path;                // szPath of AskDestPath-0
    std::array<std::string, 4> services; // szText of AskText-0..3, "<empty>" read as ""
};

// The answers, or the result code that says why the file cannot be used.
std::variant<Answers, ResultCode> parse_response(std::string_view text);

// The log file the setup program leaves: which application, and the result.
std::string log_text(ResultCode code);

} // namespace kolm::second
