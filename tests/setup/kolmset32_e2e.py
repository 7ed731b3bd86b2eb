#!/usr/bin/python3
"""kolmset32 driven from outside as its user meets it: the real program,
headless, on a fresh machine root, clicked and typed into with kolmwin,
answered through the message-box answer file, checked through its
controls, the screen log and the registry (kolmreg). devsim plays the IPX
servers and the far end; kolm32 runs where the status is the point.

Usage: kolmset32_e2e.py BIN_DIR [CASE...] | --list

Prints one line per case and a closing "N passed, M failed" line.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pty_echo_e2e import BOUND, Lines, end_children  # noqa: E402
from e2e_cases import cli  # noqa: E402

CONFIG = r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0"
MAIN = "Tarvizone Redirector Setup"
WM_PAINT = 0x000F
WM_SYSCOMMAND, SC_CLOSE = 0x0112, 0xF060


def machine(services=None, port="COM5", mfg="Tarvizone"):
    """A .reg with the redirected port's device key and, unless services is
    None, the configuration key with Service0 to Service3."""
    lines = ["REGEDIT4", ""]
    if services is not None:
        lines.append(r"[HKEY_LOCAL_MACHINE\SOFTWARE\Tarvizone\Redirector\1.0]")
        for i in range(4):
            lines.append(f'"Service{i}"="{services[i] if i < len(services) else ""}"')
        lines.append("")
    lines += [r"[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Ports\0003]",
              '"PortDriver"="kolmvx.vxd"', "", r"[HKEY_LOCAL_MACHINE\Enum\Root\Ports\0001]",
              f'"Mfg"="{mfg}"', r'"Driver"="Ports\\0003"', f'"PORTNAME"="{port}"', ""]
    return "\n".join(lines) + "\n"


def segment_env():
    """A private IPX segment for this run, on loopback."""
    r = os.getpid()
    return {"KOLM_IPX_IF": "127.0.0.1", "KOLM_IPX_GROUP": f"239.255.{r % 250 + 1}.{(r >> 8) % 250 + 1}:"
            f"{20000 + r % 20000}", "KOLM_IPX_NET": "0000000A"}


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


class Rig:
    """A machine root, with kolmset32 (and what else a case starts) on it."""

    def __init__(self, bin_dir, reg):
        self.bin_dir = bin_dir
        self.root = tempfile.mkdtemp(prefix="kolmset32-e2e-")
        self.env = dict(os.environ, KOLM_ROOT=self.root, KOLM_UI="headless", **segment_env())
        self.env.pop("DISPLAY", None)
        self.env.pop("KOLM_MSGBOX_ANSWERS", None)
        self.children = []
        self.setup = None
        path = os.path.join(self.root, "machine.reg")
        with open(path, "w") as f:
            f.write(reg)
        self.run("kolmreg", "import", path)

    def bin(self, name):
        return os.path.join(self.bin_dir, name)

    def run(self, *argv, check_ok=True):
        p = subprocess.run([self.bin(argv[0]), *argv[1:]], env=self.env, capture_output=True, text=True,
                           timeout=BOUND)
        if check_ok and p.returncode != 0:
            raise Failure(f"{' '.join(argv)}: exit {p.returncode}: {p.stderr.strip()}")
        return p.stdout

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, env=self.env, text=True, **kw)
        self.children.append(p)
        return p

    def kolm32(self):
        """kolm32 and the path of the port it published."""
        p = self.spawn([self.bin("kolm32")], stderr=subprocess.PIPE)
        err = Lines(p.stderr)
        line = err.wait_for(lambda l: l.startswith("kolm32: ") and " is /" in l)
        check(line, "kolm32 did not publish its port")
        return p, line.split()[3]

    def devsim(self, *args):
        p = self.spawn([self.bin("devsim"), *args], stdout=subprocess.PIPE)
        out = Lines(p.stdout)
        check(out.wait_for(lambda l: l == "ready", BOUND), "devsim did not start")
        return p, out

    # --- the screen log -------------------------------------------------
    def screen(self):
        try:
            with open(os.path.join(self.root, "run", "screen.log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_screen(self, text, count=1, bound=BOUND):
        end = time.monotonic() + bound
        while time.monotonic() < end:
            if sum(text in l for l in self.screen()) >= count:
                return True
            time.sleep(0.02)
        raise Failure(f"screen log never showed {text!r} ({count}x); it has:\n  " + "\n  ".join(self.screen()[-8:]))

    def boxes(self):
        return [l for l in self.screen() if " messagebox " in l]

    def answer(self, *answers):
        """Answers for the next message boxes, in order."""
        with open(os.path.join(self.root, "run", "msgbox-answers"), "a") as f:
            f.write("".join(a + "\n" for a in answers))

    # --- the program ----------------------------------------------------
    def start(self, close_splash=True):
        self.setup = self.spawn([self.bin("kolmset32")], stderr=subprocess.DEVNULL)
        self.wait_screen(f'kolmset32 dialog-shown "{MAIN}"')
        self.main = self.find(MAIN)
        if close_splash:
            self.wait_screen('kolmset32 dialog-shown "" "Tarvizone Redirector Setup Utility')
            splash = self.find(None)
            check("101 BUTTON" in self.run("kolmwin", "controls", splash), "the topmost dialog is not the splash")
            self.click(splash, 101)
            self.wait_screen('kolmset32 dialog-closed ""')
        return self.main

    def find(self, title, bound=BOUND):
        """A dialog by its caption; None: the topmost dialog."""
        end = time.monotonic() + bound
        while time.monotonic() < end:
            p = subprocess.run([self.bin("kolmwin"), "find", "#32770", title or "-"], env=self.env,
                               capture_output=True, text=True)
            if p.returncode == 0:
                return p.stdout.strip()
            time.sleep(0.02)
        raise Failure(f"no dialog {title!r}")

    def click(self, dlg, cid):
        t = time.monotonic()
        self.run("kolmwin", "click", dlg, str(cid))
        return time.monotonic() - t

    def text(self, dlg, cid):
        return self.run("kolmwin", "gettext", dlg, str(cid)).rstrip("\n")

    def items(self, dlg, cid):
        return [l.split(" ", 1)[1] if " " in l else "" for l in self.run("kolmwin", "items", dlg, str(cid)).splitlines()]

    def select(self, dlg, cid, index, *flags):
        self.run("kolmwin", "select", dlg, str(cid), str(index), *flags)

    def status(self):
        """The status text after a repaint of the main dialog."""
        self.run("kolmwin", "send", self.main, str(WM_PAINT))
        return self.text(self.main, 117)

    def services(self):
        out = self.run("kolmreg", "query", CONFIG)
        vals = {}
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].startswith("Service"):
                vals[parts[0]] = parts[2] if len(parts) == 3 else ""
        return [vals.get(f"Service{i}") for i in range(4)]

    def open_services(self):
        # Answered once Service Selection is up, well before kolmwin's 5 s
        # bound (the margin is for a loaded machine).
        check(self.click(self.main, 112) < 3.0, "Change waited for its dialog to end")
        return self.find("Service Selection")

    def add_ip(self, sel, host, port):
        closed = self.closed("IP Service")
        self.click(sel, 106)
        ip = self.find("IP Service")
        self.run("kolmwin", "settext", ip, "106", host)
        self.run("kolmwin", "settext", ip, "115", port)
        self.click(ip, 1)
        self.wait_screen('dialog-closed "IP Service"', count=closed + 1)

    def closed(self, title):
        return sum(f'dialog-closed "{title}"' in l for l in self.screen())

    def done(self):
        self.click(self.main, 116)

    def exit_code(self, bound=BOUND):
        try:
            return self.setup.wait(bound)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        end_children(self.children)
        shutil.rmtree(self.root, ignore_errors=True)


# --- cases ------------------------------------------------------------------

def case_status_follows_the_runtime(bin_dir):
    """Port name, and the status of a runtime that is up, then ends."""
    rig = Rig(bin_dir, machine(["IP:127.0.0.1:1", "IP:127.0.0.1:2"]))
    try:
        # The runtime is looked up once, at start: one started later is
        # not seen.
        rig.start()
        kolm32, _ = rig.kolm32()
        check(rig.status() == "Unknown", "a runtime started later is not seen")
        rig.done()
        check(rig.exit_code() == 0, "Done ends the program")
        rig.start()
        check(rig.text(rig.main, 113) == "Redirect COM5 to:", "the port is named")
        check(rig.items(rig.main, 108) == ["[IP ]127.0.0.1:1", "[IP ]127.0.0.1:2"], "the list is shown")
        check(rig.text(rig.main, 117) == "Not Loaded", "a runtime whose driver is not open yet")
        kolm32.send_signal(signal.SIGTERM)
        kolm32.wait(BOUND)
        check(rig.status() == "Unknown", "a runtime that ended reads Unknown")
    finally:
        rig.close()


def case_connected_through_the_second_entry(bin_dir):
    """Entry 0 refuses, entry 1 echoes: connected through index 1."""
    import serial
    rig = Rig(bin_dir, machine([]))
    try:
        _, out = rig.devsim("--tcp", "0,refuse", "--tcp", "0,echo")
        ports = {l.split()[2]: int(l.split()[1].rsplit(":", 1)[1]) - 10000 for l in out.lines if l.startswith("tcp ")}
        rig.run("kolmreg", "add", CONFIG, "/v", "Service0", "/t", "REG_SZ", "/d", f"IP:127.0.0.1:{ports['refuse']}", "/f")
        rig.run("kolmreg", "add", CONFIG, "/v", "Service1", "/t", "REG_SZ", "/d", f"IP:127.0.0.1:{ports['echo']}", "/f")
        _, link = rig.kolm32()
        rig.start()
        app = serial.Serial(link, 9600, timeout=BOUND)
        app.write(b"ping")
        check(app.read(4) == b"ping", "the echo came back")
        want = f"Connected to 127.0.0.1:{ports['echo']} over IP"
        check(rig.status() == want, f"status {rig.text(rig.main, 117)!r}, want {want!r}")
        app.close()
        end = time.monotonic() + BOUND
        while rig.status() != "Idle" and time.monotonic() < end:
            time.sleep(0.05)
        check(rig.status() == "Idle", "idle after the application closed")
    finally:
        rig.close()


def case_no_port_no_settings(bin_dir):
    """No redirected port (its maker written in another case), no
    configuration key."""
    rig = Rig(bin_dir, machine(None, mfg="tarvizone"))
    try:
        rig.start()
        check(rig.text(rig.main, 113) == "Redirect  to:", "no redirected port: two blanks")
        check(any('"Redirector Setup" "Couldn\'t read settings"' in l and "icon=EXCLAMATION" in l
                  for l in rig.boxes()), "unreadable settings are reported")
        check(rig.items(rig.main, 108) == [], "an empty list")
        check(rig.status() == "Unknown", "no runtime")
        # A save that fails keeps the change marked: Done still asks.
        sel = rig.open_services()
        rig.add_ip(sel, "h", "1")
        rig.click(sel, 1)
        rig.click(rig.main, 119)
        rig.wait_screen('"Redirector Setup" "Couldn\'t save settings"')
        rig.answer("IDNO")
        rig.done()
        check(rig.exit_code() == 0, "Done ends the program")
        check(any("Save setup data" in l for l in rig.boxes()), "the unsaved change is still marked")
    finally:
        rig.close()


def case_typed_services(bin_dir):
    """What Add IP makes of typed text, and what it refuses."""
    rig = Rig(bin_dir, machine([]))
    try:
        rig.start()
        sel = rig.open_services()
        rows = [
            ("  myhost extra", "7", "[IP ]myhost:7"),
            ("h", "0012x", "[IP ]h:12"),
            ("h", "abc", "You must enter the (decimal) number of the port to redirect to."),
            ("h", "", "You must enter the (decimal) number of the port to redirect to."),
            ("", "7", "You must enter the name of the server to redirect to or its IP Address."),
            ("   ", "7", "You must enter the name of the server to redirect to or its IP Address."),
            ("a" * 45, "1", "[IP ]" + "a" * 45 + ":1"),
            ("a" * 45, "10", "A service name can be at most 47 characters long."),
            ("b" * 47, "1", "A service name can be at most 47 characters long."),
            ("c" * 48, "1", "A service name can be at most 47 characters long."),
            ("d" * 79, "1", "A service name can be at most 47 characters long."),
            ("e" * 80, "1", "A service name can be at most 47 characters long."),
            ("f" * 500, "9" * 500, "A service name can be at most 47 characters long."),
        ]
        expected = []
        for host, port, want in rows:
            boxes = len(rig.boxes())
            rig.add_ip(sel, host, port)
            if want.startswith("[IP ]"):
                expected.append(want)
                check(len(rig.boxes()) == boxes, f"{host[:10]!r}/{port[:10]!r}: no message")
            else:
                check(len(rig.boxes()) == boxes + 1 and f'"Selection Error" "{want}"' in rig.boxes()[-1],
                      f"{host[:10]!r}/{port[:10]!r}: message {want!r}, got {rig.boxes()[-1:]}")
            check(rig.items(sel, 102) == expected, f"{host[:10]!r}/{port[:10]!r}: list {rig.items(sel, 102)}")
        # Added services are marked at once; the main list is refreshed from
        # the data, which changes only at OK.
        check(rig.items(rig.main, 108) == [], "the main list waits for OK")
        rig.click(sel, 1)
        rig.wait_screen('dialog-closed "Service Selection"')
        check(rig.items(rig.main, 108) == expected, "OK takes the list over")
        rig.answer("IDYES")
        rig.done()
        check(rig.exit_code() == 0, "Yes saves and ends")
        check(rig.services() == ["IP:myhost:7", "IP:h:12", "IP:" + "a" * 45 + ":1", ""], "saved on Yes")
    finally:
        rig.close()


def case_reorder_remove_and_full_list(bin_dir):
    rig = Rig(bin_dir, machine(["IP:A:1", "IP:B:2", "IP:C:3", "IP:D:4"]))
    try:
        rig.start()
        sel = rig.open_services()
        # The list is full: Add IP and Add IPX open nothing.
        for button in (106, 109):
            rig.click(sel, button)
            check('"Selection Error" "The Selected Service list is full."' in rig.boxes()[-1], "full-list message")
        check(not any('dialog-shown "IP Service"' in l or 'dialog-shown "IPX Service"' in l for l in rig.screen()),
              "no dialog opened on a full list")
        check("103 BUTTON disabled" in rig.run("kolmwin", "controls", sel), "nothing selected: First disabled")
        rig.select(sel, 102, 1)
        rig.select(sel, 102, 3, "--ctrl")
        rig.click(sel, 103)
        check(rig.items(sel, 102) == ["[IP ]B:2", "[IP ]D:4", "[IP ]A:1", "[IP ]C:3"], "First")
        check("selected=0,1" in rig.run("kolmwin", "controls", sel), "moved entries stay selected")
        rig.click(sel, 104)
        check(rig.items(sel, 102) == ["[IP ]A:1", "[IP ]C:3", "[IP ]B:2", "[IP ]D:4"], "Last")
        check("selected=2,3" in rig.run("kolmwin", "controls", sel), "moved entries stay selected")
        # Cancel after a Remove leaves the list in memory as it was.
        rig.click(sel, 105)
        check(rig.items(sel, 102) == ["[IP ]A:1", "[IP ]C:3"], "Remove")
        rig.click(sel, 2)
        rig.wait_screen('dialog-closed "Service Selection"')
        check(rig.items(rig.main, 108) == ["[IP ]A:1", "[IP ]B:2", "[IP ]C:3", "[IP ]D:4"], "Cancel keeps the list")
        # Remove, then an Add IP that is cancelled, then OK: the removal
        # counts (refreshed list, unsaved change).
        sel = rig.open_services()
        rig.select(sel, 102, 0)
        rig.click(sel, 105)
        rig.click(sel, 106)
        rig.click(rig.find("IP Service"), 2)
        rig.click(sel, 1)
        rig.wait_screen('dialog-closed "Service Selection"', count=2)
        check(rig.items(rig.main, 108) == ["[IP ]B:2", "[IP ]C:3", "[IP ]D:4"], "the removal reached the main list")
        # Done asks; Cancel leaves everything as it was.
        rig.answer("IDCANCEL")
        rig.done()
        rig.wait_screen('"Tarvizone Redirector Setup" "Save setup data beforing exiting?" buttons=YESNOCANCEL')
        check(rig.setup.poll() is None, "Cancel keeps the program running")
        check(rig.services() == ["IP:A:1", "IP:B:2", "IP:C:3", "IP:D:4"], "nothing saved yet")
        # Remove all, OK, Save: four empty values.
        sel = rig.open_services()
        for i in range(3):
            rig.select(sel, 102, i, "--ctrl")
        rig.click(sel, 105)
        rig.click(sel, 1)
        rig.wait_screen('dialog-closed "Service Selection"', count=3)
        rig.click(rig.main, 119)
        rig.wait_screen('"Redirector Setup" "Saved settings"')
        check(rig.services() == ["", "", "", ""], "four empty values")
        # Saved: Done asks nothing.
        rig.done()
        check(rig.exit_code() == 0, "Done after a save ends")
        check(sum("Save setup data" in l for l in rig.boxes()) == 1, "asked only the once")
    finally:
        rig.close()


def case_close_question_answered_no(bin_dir):
    rig = Rig(bin_dir, machine(["IP:A:1"]))
    try:
        rig.start()
        sel = rig.open_services()
        rig.add_ip(sel, "B", "2")
        rig.click(sel, 2)  # Cancel: the added service still marks a change
        rig.answer("IDNO")
        # Close from the dialog's system menu acts on the main window.
        rig.run("kolmwin", "send", rig.main, str(WM_SYSCOMMAND), str(SC_CLOSE))
        check(rig.exit_code() == 0, "No ends the program")
        check(any("Save setup data" in l and "answer=IDNO" in l for l in rig.boxes()), "asked")
        check(rig.services() == ["IP:A:1", "", "", ""], "nothing saved on No")
    finally:
        rig.close()


def case_ipx_services(bin_dir):
    """Polls, the cache of polled names, and addresses kept by name."""
    rig = Rig(bin_dir, machine(["IPX:00000000:00-00-00-00-00-00:ALPHA", "IP:h:1",
                                "IPX:00000000:00-00-00-00-00-00:BETA"]))
    try:
        # Each server advertises a network of its own that the segment cannot
        # reach: a directed lookup to it fails at once and leaves the address
        # as it was, so a saved address shows which one the entry was given.
        alpha, out_a = rig.devsim("--sap", "ALPHA,4001", "--sap-net", "0000AAAA")
        beta, out_b = rig.devsim("--sap", "BETA,4002", "--sap", "PORTSRV2,4003", "--sap", "PORTSRV,4004",
                                 "--sap-net", "0000BBBB")
        rig.start()
        sel = rig.open_services()
        rig.click(sel, 109)
        ipx = rig.find("IPX Service")
        # The first opening polls before it shows.
        names = ["ALPHA", "BETA", "PORTSRV", "PORTSRV2"]
        check(rig.items(ipx, 102) == names, f"polled names {rig.items(ipx, 102)}")
        rig.click(ipx, 2)
        rig.wait_screen('dialog-closed "IPX Service"')
        # The second opening shows the cache at once, even with the
        # servers gone.
        for p in (alpha, beta):
            p.terminate()
            p.wait(BOUND)
        t = time.monotonic()
        check(rig.click(sel, 109) < 3.0, "Add IPX with a cache returns at once")
        ipx = rig.find("IPX Service")
        check(rig.items(ipx, 102) == names, "names from the cache")
        # A poll with the servers gone would take about 9 s.
        check(time.monotonic() - t < 5.0, "no poll on the second opening")
        rig.select(ipx, 102, 1)
        rig.click(ipx, 1)
        rig.wait_screen('dialog-closed "IPX Service"', count=2)
        check(rig.items(sel, 102) == ["[IPX]ALPHA", "[IP ]h:1", "[IPX]BETA", "[IPX]BETA"], "the chosen name is added")
        # BETA (found at start in slot 2) goes first; OK; Save.
        rig.run("kolmwin", "select", sel, "102", "2")
        rig.click(sel, 103)
        rig.click(sel, 1)
        rig.wait_screen('dialog-closed "Service Selection"')
        rig.click(rig.main, 119)
        rig.wait_screen('"Saved settings"')
        saved = rig.services()
        check(saved[0].startswith("IPX:0000BBBB:") and saved[0].endswith(":BETA"), f"BETA keeps its address: {saved}")
        check(saved[1].startswith("IPX:0000AAAA:") and saved[1].endswith(":ALPHA"), f"ALPHA keeps its own: {saved}")
        check(saved[2] == "IP:h:1", f"slot 2: {saved}")
        check(saved[3] == saved[0], f"the added BETA has the address remembered by its name: {saved}")
    finally:
        rig.close()


def case_poll_without_servers_polls_again(bin_dir):
    rig = Rig(bin_dir, machine([]))
    try:
        rig.start()
        sel = rig.open_services()
        rig.click(sel, 109)
        ipx = rig.find("IPX Service")
        check(rig.items(ipx, 102) == [], "nothing answered")
        rig.click(ipx, 1)  # OK without a selection adds nothing
        rig.wait_screen('dialog-closed "IPX Service"')
        check(rig.items(sel, 102) == [], "nothing added")
        rig.devsim("--sap", "LATE,4005")
        rig.click(sel, 109)
        ipx = rig.find("IPX Service")
        check(rig.items(ipx, 102) == ["LATE"], "an empty poll is not a cache: polled again")
        rig.devsim("--sap", "LATER,4006")
        rig.click(ipx, 103)
        check(rig.items(ipx, 102) == ["LATE", "LATER"], "Poll adds the new name")
        check(rig.text(ipx, 103) == "Poll", "the button reads Poll again")
        rig.click(ipx, 2)
        rig.wait_screen('dialog-closed "IPX Service"', count=2)
        rig.click(sel, 109)
        ipx = rig.find("IPX Service")
        check(rig.items(ipx, 102) == ["LATE"], "the cache holds the first poll's names only")
    finally:
        rig.close()


def case_splash_closes_by_itself_and_help(bin_dir):
    rig = Rig(bin_dir, machine(["IP:A:1"]))
    try:
        t = time.monotonic()
        rig.start(close_splash=False)
        rig.wait_screen('kolmset32 dialog-shown "" "Tarvizone Redirector Setup Utility')
        rig.wait_screen('kolmset32 dialog-closed ""', bound=15)
        took = time.monotonic() - t
        check(4.5 <= took <= 12, f"the splash closed after {took:.1f} s")
        rig.click(rig.main, 9)
        rig.wait_screen('kolmset32 help "kolmset32.hlp" "Contents"')
        sel = rig.open_services()
        rig.click(sel, 9)
        rig.wait_screen('kolmset32 help "kolmset32.hlp" "Service Selection Dialog"')
        rig.click(sel, 106)
        rig.click(rig.find("IP Service"), 9)
        rig.wait_screen('kolmset32 help "kolmset32.hlp" "Service Selection Dialog"', count=2)
    finally:
        rig.close()


def case_sockets_that_cannot_start(bin_dir):
    rig = Rig(bin_dir, machine(["IP:A:1"]))
    try:
        rig.env["KOLM_IPX_GROUP"] = "not-a-group"
        rig.setup = rig.spawn([rig.bin("kolmset32")], stderr=subprocess.DEVNULL)
        code = rig.exit_code()
        check(code is not None and code != 0, f"the program ends with a failure code (got {code})")
        check(any('"Redirector Error" "Could not Init Winsock"' in l for l in rig.boxes()), "the user is told")
    finally:
        rig.close()


CASES = [fn for name, fn in globals().items() if name.startswith("case_")]


if __name__ == "__main__":
    sys.exit(cli(CASES))
