// The install script as the installer reads it: any bytes as a script file.
// Every field it fills stays within its buffer and ends in a NUL, a path it
// sets ends in a backslash, and the service texts it makes of the answers
// fit the buffer they are written into.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz_check.h"
#include "install.h"
#include "machine_env.h"

namespace {

bool ended_within(const char* field, size_t size)
{
    return std::memchr(field, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static kolm::test::TempRoot root;
    static const std::string path = (root.path() / "script.txt").string();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    std::memset(&scriptData, 0, sizeof scriptData);
    FUZZ_CHECK(parseScript(nullptr, path.c_str()) == 0, "a script that exists was not read");
    FUZZ_CHECK(ended_within(scriptData.path, sizeof scriptData.path), "the path runs past its field");
    const size_t len = std::strlen(scriptData.path);
    FUZZ_CHECK(len == 0 || scriptData.path[len - 1] == '\\', "a path without its trailing backslash");
    for (const svInfo* sv : { &scriptData.sv1, &scriptData.sv2, &scriptData.sv3, &scriptData.sv4 }) {
        FUZZ_CHECK(ended_within(sv->name, sizeof sv->name), "a service name runs past its field");
        FUZZ_CHECK(sv->protocol >= 0 && sv->protocol <= 2, "an unknown protocol");
        char text[200];
        std::memset(text, 0xbd, sizeof text);
        serviceText(sv, text, 160);
        FUZZ_CHECK(ended_within(text, 160), "a service text runs past its buffer");
        for (size_t i = 160; i < sizeof text; ++i)
            FUZZ_CHECK(static_cast<unsigned char>(text[i]) == 0xbd, "written past the buffer given");
    }
    return 0;
}
