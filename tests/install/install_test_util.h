// Helpers of the installer's tests: a fresh machine root with the
// installer's state cleared, machines described as .reg text, and what the
// screen log says.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "install.h"
#include "test_support.h"

namespace kolm::test {

class InstallTest : public RootedTest {
protected:
    void SetUp() override;

    // Writes `text` to a file of the root and returns its path.
    std::string file(const std::string& name, const std::string& text) const;
    // Imports REGEDIT4 text with kolmreg; false when kolmreg refused it.
    bool import_reg(const std::string& text) const;
};

// The message boxes shown so far, as "CAPTION: TEXT", and the help topics
// as "help FILE TOPIC".
std::vector<std::string> screen_messages();
std::string slurp(const std::filesystem::path& p);

// A string value below HKLM, "<none>" when missing.
std::string hklm_string(const std::string& key, const char* name);
std::vector<BYTE> hklm_bytes(const std::string& key, const char* name);
bool hklm_exists(const std::string& key);

} // namespace kolm::test
