#include "response_file.h"

#include <cctype>
#include <map>
#include <optional>
#include <vector>

namespace kolm::second {

namespace {

using Section = std::map<std::string, std::string>; // by upper-case key

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Sections by upper-case name. Lines before the first section and lines
// without "=" are passed over; a later key replaces an earlier one.
std::map<std::string, Section> sections_of(std::string_view text)
{
    std::map<std::string, Section> sections;
    Section* current = nullptr;
    while (!text.empty()) {
        // NOTE: a lone CR ends a line as CR LF and LF do: kept inside a
        // value it would reach a folder name or a registry value that no
        // export can write back.
        const size_t nl = text.find_first_of("\r\n");
        std::string_view raw = text.substr(0, nl);
        size_t skip = nl == std::string_view::npos ? text.size() : nl + 1;
        if (nl != std::string_view::npos && text[nl] == '\r' && nl + 1 < text.size() && text[nl + 1] == '\n')
            ++skip;
        text.remove_prefix(skip);
        const std::string_view line = trim(raw);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &sections[upper(trim(line.substr(1, line.size() - 2)))];
            continue;
        }
        const size_t eq = raw.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        // NOTE: a value is taken verbatim after the "=": a service text
        // may hold blanks of its own.
        (*current)[upper(trim(raw.substr(0, eq)))] = std::string(raw.substr(eq + 1));
    }
    return sections;
}

std::optional<std::string> value(const std::map<std::string, Section>& sections, std::string_view section,
                                 std::string_view key)
{
    const auto s = sections.find(upper(section));
    if (s == sections.end())
        return std::nullopt;
    const auto v = s->second.find(upper(key));
    if (v == s->second.end())
        return std::nullopt;
    return v->second;
}

// The dialogs the product's setup shows, in its order.
const std::vector<std::string>& setup_dialogs()
{
    static const std::vector<std::string> dialogs = {"Welcome-0",  "AskDestPath-0", "AskText-0",
                                                     "AskText-1", "AskText-2",     "AskText-3"};
    return dialogs;
}

} // namespace

std::variant<Answers, ResultCode> parse_response(std::string_view text)
{
    const auto sections = sections_of(text);
    if (!sections.count("INSTALLSHIELD SILENT") || !sections.count("DLGORDER"))
        return k_data_not_found;
    const auto& dialogs = setup_dialogs();
    if (value(sections, "DlgOrder", "Count") != std::to_string(dialogs.size()))
        return k_dialogs_out_of_order;
    Answers answers;
    for (size_t i = 0; i < dialogs.size(); ++i) {
        const auto listed = value(sections, "DlgOrder", "Dlg" + std::to_string(i));
        if (!listed)
            return k_data_not_found;
        if (upper(*listed) != upper(dialogs[i]))
            return k_dialogs_out_of_order;
        // Result 1 is the dialog's Next button; anything else would have
        // left the setup there.
        if (value(sections, dialogs[i], "Result") != "1")
            return k_data_not_found;
    }
    const auto path = value(sections, "AskDestPath-0", "szPath");
    if (!path || path->empty())
        return k_data_not_found;
    answers.dest_path = *path;
    for (size_t i = 0; i < answers.services.size(); ++i) {
        const auto text_answer = value(sections, "AskText-" + std::to_string(i), "szText");
        if (!text_answer)
            return k_data_not_found;
        answers.services[i] = *text_answer == "<empty>" ? std::string() : *text_answer;
    }
    return answers;
}

std::string log_text(ResultCode code)
{
    return "[InstallShield Silent]\r\nVersion=v2.10.000\r\nFile=Log File\r\n[Application]\r\n"
           "Name=Tarvizone Redirector\r\nVersion=1.0\r\nCompany=Tarvizone\r\n[ResponseResult]\r\nResultCode="
        + std::to_string(static_cast<int>(code)) + "\r\n";
}

} // namespace kolm::second
