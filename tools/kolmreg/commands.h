// The verbs of kolmreg. Each returns the process exit code (0 success, 1
// failure with the reason already written on standard error).
#pragma once

#include <optional>
#include <string>

#include "value_text.h"

namespace kolm::kolmreg {

// Which value a command is about: none (the key itself), a named one, the
// default value (/ve) or every value (/va).
struct ValueChoice {
    enum class Kind { Key, Named, Default, All };
    Kind kind = Kind::Key;
    std::string name;
};

struct QueryArgs {
    KeyName key;
    ValueChoice value;
    bool recursive = false;
};

struct AddArgs {
    KeyName key;
    ValueChoice value;
    std::optional<std::string> type; // as typed after /t
    std::optional<std::string> data;
    bool force = false;
};

struct DeleteArgs {
    KeyName key;
    ValueChoice value;
    bool force = false;
};

int run_query(const QueryArgs& args);
int run_add(const AddArgs& args);
int run_delete(const DeleteArgs& args);
int run_import(const std::string& file);
int run_export(const KeyName& key, const std::string& file, bool force);

// Asks QUESTION "(Yes/No)?" on the terminal. Without a terminal on
// standard input the answer is No, and the reason goes to standard error.
bool confirm(const std::string& question);

} // namespace kolm::kolmreg
