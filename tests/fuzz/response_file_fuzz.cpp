// The silent-mode response file as the setup program's stand-in reads it:
// any bytes give either the answers or a result code the log can carry,
// and answers never hold a line break (each becomes one registry value).
#include <cstdint>
#include <string_view>
#include <variant>

#include "fuzz_check.h"
#include "response_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kolm::second;
    const auto parsed = parse_response(std::string_view(reinterpret_cast<const char*>(data), size));
    if (const auto* code = std::get_if<ResultCode>(&parsed)) {
        FUZZ_CHECK(*code < 0, "a failure reported as success");
        FUZZ_CHECK(log_text(*code).find("ResultCode=") != std::string::npos, "a log without its result");
        return 0;
    }
    const Answers& a = std::get<Answers>(parsed);
    FUZZ_CHECK(a.dest_path.find_first_of("\r\n") == std::string::npos, "a path with a line break");
    for (const std::string& s : a.services)
        FUZZ_CHECK(s.find_first_of("\r\n") == std::string::npos, "a service text with a line break");
    return 0;
}
