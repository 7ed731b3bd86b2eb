#include "dialog/message_box.h"
#include "internal/system.h"

#include "internal/fd.h"

#include "dialog/ui.h"
#include "internal/machine_root.h"
#include "user/window.h"

#include <mutex>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kolm::platform {

namespace {

struct AnswerName {
    int id;
    const char* name;
};
constexpr AnswerName answer_names[] = {
    { IDOK, "IDOK" }, { IDCANCEL, "IDCANCEL" }, { IDABORT, "IDABORT" }, { IDRETRY, "IDRETRY" },
    { IDIGNORE, "IDIGNORE" }, { IDYES, "IDYES" }, { IDNO, "IDNO" },
};

// How many answers of the variable's current list this process has used;
// a new list starts from its first answer.
struct EnvAnswers {
    std::mutex mutex;
    std::string list;
    size_t used = 0;
};
EnvAnswers& env_answers()
{
    static auto* e = new EnvAnswers;
    return *e;
}

std::string trim(std::string_view s)
{
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return std::string(s.substr(a, b - a));
}

std::optional<std::string> from_variable()
{
    const char* env = std::getenv("KOLM_MSGBOX_ANSWERS");
    if (!env || !*env)
        return std::nullopt;
    std::vector<std::string> list;
    std::string_view rest(env);
    for (;;) {
        const size_t comma = rest.find(',');
        list.push_back(trim(rest.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    size_t index;
    {
        auto& state = env_answers();
        std::lock_guard lock(state.mutex);
        if (state.list != env) {
            state.list = env;
            state.used = 0;
        }
        index = state.used++;
    }
    if (index >= list.size())
        return std::nullopt;
    return list[index];
}

bool write_all_at(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = sys::retry_eintr([&] { return ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done)); });
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Takes the first non-empty line of the answer file; the rest stays for
// the next box (of this or another process: the file is locked meanwhile).
std::optional<std::string> from_file()
{
    const auto path = machine_dir("run") / "msgbox-answers";
    const int raw = sys::retry_eintr([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); });
    if (raw < 0)
        return std::nullopt;
    Fd fd(raw);
    while (::flock(fd.get(), LOCK_EX) < 0)
        if (errno != EINTR)
            return std::nullopt;
    std::string content;
    char buf[4096];
    for (;;) {
        const ssize_t n = sys::retry_eintr([&] { return ::pread(fd.get(), buf, sizeof buf, static_cast<off_t>(content.size())); });
        if (n <= 0)
            break;
        content.append(buf, static_cast<size_t>(n));
    }
    std::optional<std::string> answer;
    size_t pos = 0;
    while (pos < content.size() && !answer) {
        size_t nl = content.find('\n', pos);
        const size_t end = nl == std::string::npos ? content.size() : nl;
        std::string line = trim(std::string_view(content).substr(pos, end - pos));
        pos = nl == std::string::npos ? content.size() : nl + 1;
        if (!line.empty())
            answer = std::move(line);
    }
    if (!answer)
        return std::nullopt;
    const std::string rest = content.substr(pos);
    if (::ftruncate(fd.get(), 0) != 0 || !write_all_at(fd.get(), rest))
        return answer; // taken all the same: a box must never wait
    return answer;
}

} // namespace

std::vector<int> message_box_buttons(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return { IDOK };
    case MB_OKCANCEL:
        return { IDOK, IDCANCEL };
    case MB_ABORTRETRYIGNORE:
        return { IDABORT, IDRETRY, IDIGNORE };
    case MB_YESNOCANCEL:
        return { IDYES, IDNO, IDCANCEL };
    case MB_YESNO:
        return { IDYES, IDNO };
    case MB_RETRYCANCEL:
        return { IDRETRY, IDCANCEL };
    default:
        return {};
    }
}

const char* message_box_buttons_name(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return "OK";
    case MB_OKCANCEL:
        return "OKCANCEL";
    case MB_ABORTRETRYIGNORE:
        return "ABORTRETRYIGNORE";
    case MB_YESNOCANCEL:
        return "YESNOCANCEL";
    case MB_YESNO:
        return "YESNO";
    case MB_RETRYCANCEL:
        return "RETRYCANCEL";
    default:
        return "UNKNOWN";
    }
}

const char* message_box_icon_name(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "HAND";
    case MB_ICONQUESTION:
        return "QUESTION";
    case MB_ICONEXCLAMATION:
        return "EXCLAMATION";
    case MB_ICONASTERISK:
        return "ASTERISK";
    default:
        return nullptr;
    }
}

std::string answer_name(int answer)
{
    for (const auto& a : answer_names)
        if (a.id == answer)
            return a.name;
    return std::to_string(answer);
}

std::optional<int> parse_answer(std::string_view text)
{
    std::string t = trim(text);
    if (t.empty())
        return std::nullopt;
    if (std::isdigit(static_cast<unsigned char>(t[0]))) {
        char* end = nullptr;
        const long v = std::strtol(t.c_str(), &end, 10);
        if (*end == '\0' && v >= IDOK && v <= IDNO)
            return static_cast<int>(v);
        return std::nullopt;
    }
    for (char& c : t)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t.rfind("ID", 0) != 0)
        t = "ID" + t;
    for (const auto& a : answer_names)
        if (t == a.name)
            return a.id;
    return std::nullopt;
}

std::optional<std::string> take_scripted_answer()
{
    if (auto a = from_variable())
        return a;
    return from_file();
}

} // namespace kolm::platform

using namespace kolm::platform;

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    ensure_dialog_system();
    MessageBoxRequest req;
    req.buttons = message_box_buttons(uType);
    if (req.buttons.empty()) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);
        return 0;
    }
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    req.owner = hWnd;
    req.text = lpText ? lpText : "";
    req.caption = lpCaption ? lpCaption : "Error"; // the caption Windows gives a box without one
    req.type = uType;
    // MB_DEFBUTTON2/3 past the last button leave the first one the default.
    const size_t def = (uType & MB_DEFMASK) >> 8;
    req.default_answer = req.buttons[def < req.buttons.size() ? def : 0];
    if (auto scripted = take_scripted_answer()) {
        auto answer = parse_answer(*scripted);
        bool offered = false;
        for (int b : req.buttons)
            offered = offered || (answer && b == *answer);
        if (offered)
            req.scripted_answer = *answer;
        else
            req.refused_answer = *scripted;
    }
    return ui_renderer().message_box(req);
}
