// The desktop renderer on a real X server (Xvfb, with its own display
// number, authority file and directory): what it draws, what the user's
// input does to the model, and what happens when the server goes away.
// Skipped only when Xvfb is not installed.
#include "child_process.h"
#include "dialog/screen_log_reader.h"
#include "test_support.h"
#include "dialog/dialog_units.h"
#include "user/window_geometry.h"
#include "win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <random>
#include <sstream>

using namespace kolm::test;
using kolm::platform::ScreenLine;
using kolm::platform::ScreenLogReader;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kXvfb = "/usr/bin/Xvfb";

std::string random_cookie()
{
    std::random_device rd;
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", static_cast<unsigned>(rd() & 0xFF));
        hex += b;
    }
    return hex;
}

// One X server for one test.
class XServer {
public:
    explicit XServer(const fs::path& dir) : m_auth(dir / "Xauthority")
    {
        // Xvfb prints the display number on descriptor 1 once it accepts
        // connections; a number already in use makes it exit instead. It
        // must not reset when its last client leaves: the checks connect
        // and leave one after another, and a connection made during a reset
        // is refused.
        for (int n = 40 + static_cast<int>(::getpid() % 200); n < 400 && !m_server; ++n) {
            if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            const std::string display = ":" + std::to_string(n);
            if (run_command("xauth -f '" + m_auth.string() + "' add " + display + " MIT-MAGIC-COOKIE-1 " + random_cookie())
                    .status != 0)
                return;
            auto server = std::make_unique<ChildProcess>(
                kXvfb.string(),
                std::vector<std::string> { display, "-displayfd", "1", "-auth", m_auth.string(), "-nolisten", "tcp", "-noreset",
                                           "-screen", "0", "1024x768x24" });
            if (server->read_line(15s)) {
                m_display = display;
                m_server = std::move(server);
            }
        }
    }

    bool up() const { return m_server != nullptr; }
    std::vector<std::string> env() const { return { "DISPLAY=" + m_display, "XAUTHORITY=" + m_auth.string() }; }
    std::string prefix() const { return "DISPLAY=" + m_display + " XAUTHORITY='" + m_auth.string() + "' "; }
    void kill()
    {
        m_server->kill(SIGKILL);
        m_server->wait_exit();
    }

private:
    fs::path m_auth;
    std::string m_display;
    std::unique_ptr<ChildProcess> m_server;
};

struct XGeometry {
    int x = 0, y = 0, w = 0, h = 0;
    bool viewable = false;
};

std::optional<XGeometry> x_window(const XServer& x, const std::string& name)
{
    auto r = run_command(x.prefix() + "xwininfo -name '" + name + "' 2>/dev/null");
    if (r.status != 0)
        return std::nullopt;
    XGeometry g;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        auto value = [&](const char* key, int& out) {
            const auto at = line.find(key);
            if (at != std::string::npos)
                out = std::atoi(line.c_str() + at + std::strlen(key));
        };
        value("Absolute upper-left X:", g.x);
        value("Absolute upper-left Y:", g.y);
        value("Width:", g.w);
        value("Height:", g.h);
        if (line.find("Map State: IsViewable") != std::string::npos)
            g.viewable = true;
    }
    return g;
}

// X has no event a test can wait on from here: its state is asked again,
// a bounded number of times.
bool x_wait(const std::function<bool()>& pred, std::chrono::milliseconds bound = 10s)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        ::poll(nullptr, 0, 50);
    }
    return true;
}

bool shown(const XServer& x, const std::string& name)
{
    auto g = x_window(x, name);
    return g && g->viewable;
}

// Names of the viewable top-level windows, topmost first.
std::vector<std::string> stacking(const XServer& x)
{
    std::vector<std::string> names;
    auto r = run_command(x.prefix() + "xwininfo -root -children");
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const auto q = line.find('"');
        const auto e = q == std::string::npos ? q : line.find('"', q + 1);
        if (e != std::string::npos) {
            const std::string name = line.substr(q + 1, e - q - 1);
            if (shown(x, name))
                names.push_back(name);
        }
    }
    return names;
}

fs::path screenshot(const XServer& x, const std::string& name)
{
    const fs::path png = fs::path(std::getenv("KOLM_ROOT")) / (name + ".png");
    EXPECT_EQ(0, run_command(x.prefix() + "xwd -root -silent | /usr/bin/convert xwd:- png:'" + png.string() + "'").status);
    // Kept for a person to look at when asked.
    if (const char* keep = std::getenv("KOLM_SCREENSHOT_DIR"))
        fs::copy_file(png, fs::path(keep) / png.filename(), fs::copy_options::overwrite_existing);
    return png;
}

int colours(const fs::path& png, const XGeometry& g)
{
    std::ostringstream crop;
    crop << g.w << 'x' << g.h << '+' << g.x << '+' << g.y;
    auto r = run_command("/usr/bin/convert '" + png.string() + "' -crop " + crop.str() + " +repage -format %k info:");
    return r.status == 0 ? std::atoi(r.out.c_str()) : -1;
}

class DesktopTest : public RootedTest {
protected:
    void SetUp() override
    {
        if (!fs::exists(kXvfb))
            GTEST_SKIP() << "Xvfb is not installed (scripts/deps.sh installs it)";
        x = std::make_unique<XServer>(root.path());
        ASSERT_TRUE(x->up()) << "no display number free for Xvfb";
        fs::create_directories(root.path() / "run");
    }

    std::vector<std::string> env() const
    {
        auto e = x->env();
        e.push_back("KOLM_UI=desktop");
        return e;
    }

    std::unique_ptr<XServer> x;
};

struct Ready {
    HWND dlg = nullptr;
    RECT rect {};
};

Ready parse_ready(const std::string& rest)
{
    Ready r;
    unsigned h = 0;
    long l, t, rr, b;
    if (std::sscanf(rest.c_str(), "%x %ld %ld %ld %ld", &h, &l, &t, &rr, &b) == 5) {
        r.dlg = DwordToHandle<HWND>(h);
        r.rect = RECT { static_cast<LONG>(l), static_cast<LONG>(t), static_cast<LONG>(rr), static_cast<LONG>(b) };
    }
    return r;
}

TEST_F(DesktopTest, DialogIsDrawnAtItsModelPlaceAndTakesClicksAndKeys)
{
    ScreenLogReader log;
    ChildProcess peer(bin_path("desktop_test_peer").string(), { "controls" }, env());
    auto ready = peer.wait_line("ready ");
    ASSERT_TRUE(ready);
    const Ready r = parse_ready(*ready);
    ASSERT_TRUE(r.dlg);
    ASSERT_TRUE(x_wait([&] { return shown(*x, "Every Control"); }));

    // The client area lies where the model puts it, frame insets and all.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME;
    const RECT in = kolm::platform::frame_insets(style, 0);
    auto g = x_window(*x, "Every Control");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->x, r.rect.left + in.left);
    EXPECT_EQ(g->y, r.rect.top + in.top);
    EXPECT_EQ(g->w, (r.rect.right - in.right) - (r.rect.left + in.left));
    EXPECT_EQ(g->h, (r.rect.bottom - in.bottom) - (r.rect.top + in.top));

    const auto png = screenshot(*x, "dialog-controls");
    EXPECT_GE(colours(png, XGeometry { 0, 0, 1024, 768 }), 4);
    EXPECT_GE(colours(png, *g), 4) << "the dialog's region is nearly uniform";

    // Another process clicks Apply by control id while the desktop is up.
    const std::string hwnd = *ready;
    auto click = run_command(bin_path("kolmwin").string() + " click " + hwnd.substr(0, hwnd.find(' ')) + " 201");
    EXPECT_EQ(0, click.status);
    EXPECT_TRUE(peer.wait_line("command 201 0"));
    EXPECT_TRUE(log.wait_for("\"clicked 1\""));

    // The user: a click on Apply (mouse down and up on it), typing into the
    // edit, and Enter, which the dialog's keyboard code gives to OK.
    const std::string xdo = x->prefix() + "xdotool ";
    auto at = [&](int x_du, int y_du) {
        RECT p = kolm::platform::dialog_units_to_pixels(x_du, y_du, 0, 0);
        return std::to_string(g->x + p.left + 3) + " " + std::to_string(g->y + p.top + 3);
    };
    EXPECT_EQ(0, run_command(xdo + "mousemove " + at(116, 130) + " click 1").status);
    EXPECT_TRUE(peer.wait_line("command 201 0"));
    EXPECT_TRUE(log.wait_for("\"clicked 2\""));
    EXPECT_EQ(0, run_command(xdo + "mousemove " + at(122, 36) + " click 1").status);
    EXPECT_TRUE(peer.wait_line("command 204 256")); // EN_SETFOCUS
    EXPECT_EQ(0, run_command(xdo + "key End type 'X@Y'").status);
    EXPECT_TRUE(peer.wait_line("command 204 768")); // EN_CHANGE
    EXPECT_TRUE(x_wait([&] {
        auto t = run_command(bin_path("kolmwin").string() + " gettext " + hwnd.substr(0, hwnd.find(' ')) + " 204");
        return t.out.find("host@site:1X@Y") != std::string::npos;
    }));
    // A list item clicked: the model's selection, and LBN_SELCHANGE.
    EXPECT_EQ(0, run_command(xdo + "mousemove " + at(8, 83) + " click 1").status);
    EXPECT_TRUE(peer.wait_line("command 207 1"));
    EXPECT_EQ(0, run_command(xdo + "mousemove " + at(122, 36) + " click 1 key Return").status);
    EXPECT_TRUE(peer.wait_line("end 1"));
    EXPECT_TRUE(log.wait_for("dialog-closed \"Every Control\""));
    EXPECT_TRUE(x_wait([&] { return !shown(*x, "Every Control"); }));
    EXPECT_EQ(0, peer.wait_exit());
}

TEST_F(DesktopTest, MessageBoxWaitsForTheUsersAnswer)
{
    ChildProcess peer(bin_path("desktop_test_peer").string(), { "box" }, env());
    ASSERT_TRUE(x_wait([&] { return shown(*x, "Peer Question"); }));
    auto g = x_window(*x, "Peer Question");
    ASSERT_TRUE(g);
    const auto png = screenshot(*x, "message-box");
    EXPECT_GE(colours(png, *g), 4);
    // Escape does nothing on a Yes/No box; "No" is the second button.
    EXPECT_EQ(0, run_command(x->prefix() + "xdotool mousemove " + std::to_string(g->x + g->w / 2) + " " +
                             std::to_string(g->y + g->h / 2) + " key Escape key Tab")
                     .status);
    EXPECT_EQ(0, run_command(x->prefix() + "xdotool mousemove " + std::to_string(g->x + g->w / 2 + 40) + " " +
                             std::to_string(g->y + g->h - 20) + " click 1")
                     .status);
    auto answer = peer.wait_line("answer ");
    ASSERT_TRUE(answer);
    EXPECT_EQ(std::to_string(IDNO), *answer);
    auto line = ScreenLogReader().wait_for("messagebox");
    ASSERT_TRUE(line);
    EXPECT_EQ("IDNO", line->field("answer").value_or(""));
}

// The runtime itself, with its notice box: shown above the window that
// was there first, gone after its hold time; and when the X server dies,
// the runtime keeps running and its notices go on in the screen log.
TEST_F(DesktopTest, RuntimeNoticeBoxOnTopAndTheRuntimeOutlivesTheDisplay)
{
    ScreenLogReader log;
    ChildProcess peer(bin_path("desktop_test_peer").string(), { "controls" }, env());
    ASSERT_TRUE(peer.wait_line("ready "));
    ASSERT_TRUE(x_wait([&] { return shown(*x, "Every Control"); }));

    // The default machine: one redirected port, so that the runtime starts.
    ASSERT_EQ(0, run_command(bin_path("kolmreg").string() + " import '" KOLM_SOURCE_DIR "/share/default-machine.reg'").status);
    ChildProcess runtime(bin_path("kolm32").string(), {}, env());
    std::string hwnd;
    ASSERT_TRUE(x_wait([&] {
        auto f = run_command(bin_path("kolmwin").string() + " find kolm32 kolm32");
        hwnd = f.out.substr(0, f.out.find('\n'));
        return f.status == 0;
    }));
    // WM_NOTICE_MESS: hold 2.5 s (0x19), sequence number in the low byte.
    const std::string notice = bin_path("kolmwin").string() + " send " + hwnd + " 1175 ";
    EXPECT_EQ(0, run_command(notice + "0x1901 --text 'Attempting to connect to service host@site:1'").status);
    auto shown_line = log.wait_for([](const ScreenLine& l) { return l.program == "kolm32" && l.kind == "dialog-text"; });
    ASSERT_TRUE(shown_line);
    const std::string caption = shown_line->caption;
    ASSERT_TRUE(x_wait([&] { return shown(*x, caption); }));
    auto order = stacking(*x);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(caption, order.front()) << "the notice box is not on top";
    auto g = x_window(*x, caption);
    ASSERT_TRUE(g);
    const auto png = screenshot(*x, "notice-box");
    EXPECT_GE(colours(png, *g), 3);

    // The hold time (2.5 s) closes it, in the model and on the screen.
    EXPECT_TRUE(log.wait_for([](const ScreenLine& l) { return l.program == "kolm32" && l.kind == "dialog-closed"; }));
    EXPECT_TRUE(x_wait([&] { return !shown(*x, caption); }));

    x->kill();
    EXPECT_EQ(0, run_command(notice + "0x1902 --text 'After the display went away'").status);
    EXPECT_TRUE(log.wait_for("After the display went away"));
    EXPECT_FALSE(runtime.wait_exit(0ms)) << "the runtime ended with its display";
    EXPECT_FALSE(peer.wait_exit(0ms)) << "the dialog program ended with its display";
    auto status = run_command(bin_path("kolmwin").string() + " send " + hwnd + " 1181");
    EXPECT_EQ(0, status.status);
}

// The setup utility as its user sees it: the main dialog and Service
// Selection drawn at their templates' sizes, the Change button clicked with
// the mouse.
TEST_F(DesktopTest, SetupUtilityDialogsAreDrawnAtTheirTemplateSizes)
{
    ScreenLogReader log;
    ASSERT_EQ(0, run_command(bin_path("kolmreg").string() + " import '" KOLM_SOURCE_DIR "/share/default-machine.reg'").status);
    ChildProcess setup(bin_path("kolmset32").string(), {}, env());
    const std::string main_title = "Tarvizone Redirector Setup";
    ASSERT_TRUE(x_wait([&] { return shown(*x, main_title); }));
    auto size_is = [](const XGeometry& g, int cx, int cy) {
        const RECT p = kolm::platform::dialog_units_to_pixels(0, 0, cx, cy);
        return g.w == p.right && g.h == p.bottom;
    };

    // The splash comes up over the main dialog; its OK closes it.
    ASSERT_TRUE(log.wait_for("dialog-shown \"\" \"Tarvizone Redirector Setup Utility"));
    auto splash = run_command(bin_path("kolmwin").string() + " find '#32770' -");
    ASSERT_EQ(0, splash.status);
    EXPECT_EQ(0, run_command(bin_path("kolmwin").string() + " click " + splash.out.substr(0, 10) + " 101").status);
    ASSERT_TRUE(log.wait_for("dialog-closed \"\""));

    auto g = x_window(*x, main_title);
    ASSERT_TRUE(g);
    EXPECT_TRUE(size_is(*g, 288, 153)) << g->w << "x" << g->h;
    const auto main_png = screenshot(*x, "setup-main");
    EXPECT_GE(colours(main_png, *g), 4) << "the main dialog's region is nearly uniform";

    // Change, clicked by the user, opens Service Selection.
    const RECT change = kolm::platform::dialog_units_to_pixels(224, 10, 0, 0);
    EXPECT_EQ(0, run_command(x->prefix() + "xdotool mousemove " + std::to_string(g->x + change.left + 5) + " "
                             + std::to_string(g->y + change.top + 5) + " click 1")
                     .status);
    ASSERT_TRUE(x_wait([&] { return shown(*x, "Service Selection"); }));
    auto s = x_window(*x, "Service Selection");
    ASSERT_TRUE(s);
    EXPECT_TRUE(size_is(*s, 202, 199)) << s->w << "x" << s->h;
    const auto services_png = screenshot(*x, "setup-services");
    EXPECT_GE(colours(services_png, *s), 4) << "the Service Selection dialog's region is nearly uniform";

    // Cancel and Done, by control id: the program ends without a question.
    auto sel = run_command(bin_path("kolmwin").string() + " find '#32770' 'Service Selection'");
    EXPECT_EQ(0, run_command(bin_path("kolmwin").string() + " click " + sel.out.substr(0, 10) + " 2").status);
    auto dlg = run_command(bin_path("kolmwin").string() + " find '#32770' '" + main_title + "'");
    EXPECT_EQ(0, run_command(bin_path("kolmwin").string() + " click " + dlg.out.substr(0, 10) + " 116").status);
    EXPECT_EQ(0, setup.wait_exit());
}

} // namespace
