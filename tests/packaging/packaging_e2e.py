#!/usr/bin/python3
"""The product as a Linux user gets it: every program's --help, --version
and unknown options, the manual pages, `cmake --install` into a temporary
prefix and the Debian packages, each installation run for real (a Python
serial session through the installed kolm32, the installed installer
putting the product on a fresh machine root).

Usage: packaging_e2e.py BUILD_DIR VERSION [CASE...] | --list

Nothing is installed into the system: the prefix, the packages and the
folder they are unpacked into are temporary. Prints one line per case and
a closing "N passed, M failed" line.
"""
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from install_e2e import case_install_serve_and_remove, check, wait_file  # noqa: E402
from e2e_cases import cli, run_cases  # noqa: E402
from port_e2e import devsim, stop  # noqa: E402
from pty_echo_e2e import BOUND, Lines, echo_through  # noqa: E402

SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
MAN_PAGES = os.path.join(SOURCE, "docs", "man")
UNIT = "tarvizone-redirector.service"

# Every program: its name in --version and how its command line is read.
# "windows": the Windows program's own command line, ignored or its own,
# where only --help / --version alone are the Linux entry's.
PROGRAMS = {
    "kolm32": "windows", "kolmset32": "windows", "install": "windows", "remove": "windows",
    "kolmui": "windows", "second": "tool", "kolmreg": "tool", "kolmwin": "tool", "devsim": "tool",
}
# The manual page of each program that has one.
MANUAL = {"kolm32": "kolm32", "kolmset32": "kolmset32", "install": "kolminstall", "kolmreg": "kolmreg",
          "kolmwin": "kolmwin", "devsim": "devsim"}


class Context:
    def __init__(self, build_dir, version):
        self.build_dir = build_dir
        self.bin_dir = os.path.join(build_dir, "bin")
        self.version = version
        self.temp = tempfile.mkdtemp(prefix="kolm-packaging-")
        self._prefix = None

    def prefix(self):
        """The product installed with cmake --install, once per run (under
        ctest each case is a run of its own: a few seconds)."""
        if self._prefix is None:
            prefix = os.path.join(self.temp, "prefix")
            r = subprocess.run(["cmake", "--install", self.build_dir, "--prefix", prefix],
                               capture_output=True, text=True, timeout=120)
            check(r.returncode == 0, f"cmake --install failed: {r.stdout}{r.stderr}")
            self._prefix = prefix
        return self._prefix

    def close(self):
        shutil.rmtree(self.temp, ignore_errors=True)


def quiet_env(**extra):
    """No display and no machine root of the user's: a root and a home that
    do not exist, so that a program that touches them shows it."""
    env = dict(os.environ, **extra)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "KOLM_MSGBOX_ANSWERS", "KOLM_HELP_OPENER"):
        env.pop(name, None)
    return env


def case_help_version_and_unknown_options(ctx):
    """--help and --version answered without touching the machine root, an
    unknown option refused with status 2 and a usage line."""
    rows = []
    for name in PROGRAMS:
        rows += [
            (name, ["--help"], 0, f"usage: {name}", ""),
            (name, ["--version"], 0, f"{name} (Tarvizone Redirector for Linux) {ctx.version}\n", ""),
            (name, ["--frobnicate"], 2, "", f"{name}: unknown option --frobnicate\nusage: {name}"),
        ]
    rows += [
        # Not alone, --help is an option like any other.
        ("kolm32", ["--help", "x"], 2, "", "kolm32: unknown option --help"),
        ("kolmset32", ["/s", "--version", "x"], 2, "", "kolmset32: unknown option --version"),
        # Where an option or a positional argument is due, not as a value.
        ("kolmreg", ["query", r"HKLM\SOFTWARE", "--recursive"], 2, "", "kolmreg: unknown option --recursive"),
        ("kolmwin", ["send", "0x10", "WM_NULL", "0", "--txt", "a"], 2, "", "kolmwin: unknown option --txt"),
        ("kolmwin", ["select", "0x10", "102", "0", "--triple"], 2, "", "kolmwin: unknown option --triple"),
        ("devsim", ["--tcp"], 2, "", "devsim: --tcp needs a value\nusage: devsim"),
    ]
    failures = []
    for name, args, status, out, err in rows:
        row = f"{name} {' '.join(args)}"
        work = tempfile.mkdtemp(dir=ctx.temp)
        root, home = os.path.join(work, "root"), os.path.join(work, "home")
        r = subprocess.run([os.path.join(ctx.bin_dir, name), *args], capture_output=True, text=True, timeout=BOUND,
                           env=quiet_env(KOLM_ROOT=root, HOME=home), cwd=work)
        problems = []
        if r.returncode != status:
            problems.append(f"exit {r.returncode}, not {status}")
        if out and not (r.stdout == out if out.endswith("\n") else r.stdout.startswith(out)):
            problems.append(f"stdout {r.stdout[:200]!r}")
        if err and not r.stderr.startswith(err):
            problems.append(f"stderr {r.stderr[:200]!r}")
        if status == 0 and r.stderr:
            problems.append(f"stderr {r.stderr[:200]!r}")
        if os.path.exists(root) or os.path.exists(home):
            problems.append("it made a machine root")
        if args == ["--help"] and "Environment" not in r.stdout:
            problems.append("no environment in --help")
        if problems:
            failures.append(f"[{row}] " + "; ".join(problems))
    check(not failures, "\n".join(failures))


def case_install_takes_a_script_named_like_an_option(ctx):
    """install --x is the script --x when such a file exists; without one it
    is an unknown option; any other path stays a script path."""
    work = tempfile.mkdtemp(dir=ctx.temp)
    env = quiet_env(KOLM_ROOT=os.path.join(work, "root"), KOLM_SYSFS_TTY=os.path.join(work, "no-tty"),
                    KOLM_UI="headless")
    install = os.path.join(ctx.bin_dir, "install")
    r = subprocess.run([install, "--missing.txt"], capture_output=True, text=True, timeout=BOUND, env=env, cwd=work)
    check(r.returncode == 2 and "unknown option --missing.txt" in r.stderr, f"{r.returncode}: {r.stderr}")
    r = subprocess.run([install, os.path.join(work, "missing.txt")], capture_output=True, text=True, timeout=BOUND,
                       env=env, cwd=work)
    check(r.returncode == 3, f"a missing script gave {r.returncode}, not 3: {r.stderr}")
    with open(os.path.join(work, "--inst.txt"), "w") as f:
        f.write("path=C:\\Program Files\\Tarvizone\\Redirector\nsv1=ip:localhost:1\n")
    r = subprocess.run([install, "--inst.txt"], capture_output=True, text=True, timeout=BOUND, env=env, cwd=work)
    check(r.returncode == 0, f"install --inst.txt exited {r.returncode}: {r.stderr}")
    log = os.path.join(work, "root", "drive_c", "WINDOWS", "kolmvx.log")
    check(wait_file(log, "ResultCode="), "the setup program did not finish")


def case_manual_pages(ctx):
    """Every page formats without a warning, names the version the programs
    say, and lists every variable its program's --help names."""
    failures = []
    for program, page in MANUAL.items():
        path = os.path.join(MAN_PAGES, page + ".1")
        for command in (["groff", "-ww", "-z", "-man", path], ["man", "--warnings", "-E", "UTF-8", "-l", path]):
            r = subprocess.run(command, capture_output=True, text=True, timeout=BOUND,
                               env=dict(os.environ, MANWIDTH="80"))
            if r.returncode != 0 or r.stderr:
                failures.append(f"[{page}] {command[0]}: {r.stderr.strip()}")
        with open(path) as f:
            text = f.read()
        title = text.split("\n", 1)[0]
        if f'"Tarvizone Redirector {ctx.version}"' not in title:
            failures.append(f"[{page}] the title line does not name version {ctx.version}: {title}")
        page_names = set(re.findall(r"KOLM_[A-Z_]+\*?|WINDIR|DISPLAY", text.replace("\\-", "-")))
        r = subprocess.run([os.path.join(ctx.bin_dir, program), "--help"], capture_output=True, text=True,
                           timeout=BOUND, env=quiet_env())
        help_names = set(re.findall(r"KOLM_[A-Z_]+\*?|WINDIR|DISPLAY", r.stdout))
        missing = sorted(help_names - page_names)
        if missing:
            failures.append(f"[{page}] --help names {missing}, the page does not")
        for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "FILES", "EXIT STATUS",
                        "EXAMPLES", "SEE ALSO"):
            if f"\n.SH {section}\n" not in text:
                failures.append(f"[{page}] no {section} section")
    check(not failures, "\n".join(failures))


def expect_layout(prefix, unit_kolm32):
    """The installed files and links, and the unit running unit_kolm32."""
    failures = []
    for path in ["bin/kolm32", "bin/kolmset32", "bin/kolmreg", "bin/kolmwin", "bin/devsim", "bin/kolmui",
                 "lib/tarvizone/install", "lib/tarvizone/second", "lib/tarvizone/remove"]:
        full = os.path.join(prefix, path)
        if not (os.path.isfile(full) and not os.path.islink(full) and os.access(full, os.X_OK)):
            failures.append(f"{path} is not an installed program")
    links = {"bin/kolminstall": "../lib/tarvizone/install", "lib/tarvizone/kolm32": "../../bin/kolm32",
             "lib/tarvizone/kolmset32": "../../bin/kolmset32", "lib/tarvizone/kolmui": "../../bin/kolmui",
             "lib/tarvizone/help": "../../share/tarvizone/help"}
    for path, target in links.items():
        full = os.path.join(prefix, path)
        if not os.path.islink(full) or os.readlink(full) != target or not os.path.exists(full):
            failures.append(f"{path} is not a link to {target}")
    for page in MANUAL.values():
        if not os.path.isfile(os.path.join(prefix, "share/man/man1", page + ".1")):
            failures.append(f"no manual page {page}(1)")
    for name in os.listdir(os.path.join(SOURCE, "docs", "help")):
        if not os.path.isfile(os.path.join(prefix, "share/tarvizone/help", name)):
            failures.append(f"no help page {name}")
    if not os.path.isfile(os.path.join(prefix, "share/tarvizone/default-machine.reg")):
        failures.append("no default machine")
    unit = os.path.join(prefix, "lib/systemd/user", UNIT)
    settings = unit_settings(unit) if os.path.isfile(unit) else {}
    for key, value in (("ExecStart", unit_kolm32), ("Restart", "on-failure"), ("KillSignal", "SIGTERM"),
                       ("SyslogIdentifier", "kolm32"), ("StandardError", "journal"), ("WantedBy", "default.target")):
        if settings.get(key) != value:
            failures.append(f"the unit's {key} is {settings.get(key)!r}, not {value!r}")
    check(not failures, "\n".join(failures))
    return settings


def unit_settings(path):
    settings = {}
    with open(path) as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                settings[key] = value
    return settings


def serve_a_session(tools_dir, default_machine, exec_start, work):
    """The default machine on a fresh root, its service moved to a devsim
    echo on a free port, kolm32 started as the unit starts it: a Python
    serial session through the port, which belongs to the user's primary
    group with mode 0660; SIGTERM ends the runtime with status 0 and takes
    the link away, and every screen-log line was also one line of standard
    error (what the journal keeps)."""
    root = os.path.join(work, "root")
    env = quiet_env(KOLM_ROOT=root)
    env.pop("KOLM_UI", None)
    env.pop("KOLM_PORT_GROUP", None)
    subprocess.run([os.path.join(tools_dir, "kolmreg"), "import", default_machine], check=True, env=env,
                   timeout=BOUND, stdout=subprocess.DEVNULL)
    far, n = devsim(tools_dir)
    kolm32 = None
    try:
        subprocess.run([os.path.join(tools_dir, "kolmreg"), "add", r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0",
                        "/v", "Service0", "/d", f"IP:localhost:{n}", "/f"], check=True, env=env, timeout=BOUND,
                       stdout=subprocess.DEVNULL)
        kolm32 = subprocess.Popen(exec_start.split(), env=env, text=True, stderr=subprocess.PIPE)
        err = Lines(kolm32.stderr)
        check(err.wait_for(lambda l: l.startswith("kolm32: COM3 is ")), "kolm32 did not publish COM3")
        link = os.path.join(root, "dev", "COM3")
        payload = bytes(range(256)) * 64
        got = echo_through(link, payload)
        check(got == payload, f"{len(got)} of {len(payload)} bytes came back")
        st = os.stat(link)
        check(st.st_gid == os.getgid() and stat.S_IMODE(st.st_mode) == 0o660,
              f"the port has group {st.st_gid} and mode {oct(stat.S_IMODE(st.st_mode))}")
        check(err.wait_for(lambda l: "Disconnecting" in l or "disconnect" in l.lower()),
              "no disconnect notice on standard error")
        kolm32.send_signal(signal.SIGTERM)
        status = kolm32.wait(BOUND)
        check(status == 0, f"kolm32 ended with {status} on SIGTERM")
        check(not os.path.lexists(link), "the port's link is left")
        with open(os.path.join(root, "run", "screen.log")) as f:
            screen = f.read().splitlines()
        stderr_screen = [l for l in err.lines if re.match(r'kolm32 [a-z-]+ "', l)]
        check(screen and stderr_screen == screen,
              f"standard error's screen lines differ from the screen log:\n{stderr_screen}\n{screen}")
    finally:
        if kolm32 and kolm32.poll() is None:
            kolm32.kill()
            kolm32.wait()
        stop(far)


def case_cmake_install_serves_a_session(ctx):
    prefix = ctx.prefix()
    settings = expect_layout(prefix, os.path.join(prefix, "bin", "kolm32"))
    # As the user's manager would load it, with no manager running: its
    # Documentation= page is looked up in the prefix's manual.
    runtime_dir = tempfile.mkdtemp(dir=ctx.temp)
    r = subprocess.run(["systemd-analyze", "--user", "verify", os.path.join(prefix, "lib/systemd/user", UNIT)],
                       capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir, MANPATH=os.path.join(prefix, "share/man")))
    check(r.returncode == 0 and not r.stderr.strip(), f"systemd-analyze verify: {r.stdout}{r.stderr}")
    serve_a_session(os.path.join(prefix, "bin"), os.path.join(prefix, "share/tarvizone/default-machine.reg"),
                    settings["ExecStart"], tempfile.mkdtemp(dir=ctx.temp))


def case_installed_installer_puts_the_product_on_a_root(ctx):
    """The installer from the prefix: the setup program beside it copies the
    prefix's programs and help pages (a page only the prefix has shows
    where they came from), and the copy serves the port; then the Manual
    installation opens the prefix's help page."""
    prefix = ctx.prefix()
    help_dir = os.path.join(prefix, "share/tarvizone/help")
    with open(os.path.join(help_dir, "only-in-the-prefix.html"), "w") as f:
        f.write("<p>installed</p>\n")
    try:
        case_install_serve_and_remove(os.path.join(prefix, "bin"), os.path.join(prefix, "lib/tarvizone"), help_dir)
    finally:
        os.remove(os.path.join(help_dir, "only-in-the-prefix.html"))

    work = tempfile.mkdtemp(dir=ctx.temp)
    env = quiet_env(KOLM_ROOT=os.path.join(work, "root"), KOLM_SYSFS_TTY=os.path.join(work, "no-tty"),
                    KOLM_UI="headless")
    installer = subprocess.Popen([os.path.join(prefix, "bin", "kolminstall")], env=env, text=True,
                                 stderr=subprocess.PIPE)
    try:
        err = Lines(installer.stderr)
        check(err.wait_for(lambda l: 'dialog-shown "Installation Method"' in l), "no Installation Method dialog")
        kolmwin = os.path.join(prefix, "bin", "kolmwin")
        method = subprocess.run([kolmwin, "find", "#32770", "Installation Method"], env=env, capture_output=True,
                                text=True, timeout=BOUND).stdout.strip()
        for control in ("11", "1"):  # Manual Installation, OK
            r = subprocess.run([kolmwin, "click", method, control], env=env, capture_output=True, text=True,
                               timeout=BOUND)
            check(r.returncode == 0, f"click {control}: {r.stderr}")
        line = err.wait_for(lambda l: " help " in l and "context 1000" in l)
        check(line, "no help line")
        page = re.search(r" page=(\S+)", line).group(1)
        check(page.startswith(f"file://{prefix}/lib/tarvizone/help/install.html"), f"help page {page}")
        check(installer.wait(BOUND) == 0, "the installer did not end with 0")
    finally:
        if installer.poll() is None:
            installer.kill()
            installer.wait()


def case_debian_packages(ctx):
    """Both packages built from the build tree, their dependencies read off
    their programs (the toolkit and X11 only for the desktop one), and the
    unpacked runtime package serving a session with the default machine."""
    out = os.path.join(ctx.temp, "packages")
    r = subprocess.run(["cpack", "--config", os.path.join(ctx.build_dir, "CPackConfig.cmake"), "-B", out],
                       capture_output=True, text=True, timeout=300)
    check(r.returncode == 0, f"cpack failed: {r.stdout}{r.stderr}")
    debs = {}
    for name in os.listdir(out):
        if name.endswith(".deb"):
            package = subprocess.run(["dpkg-deb", "-f", os.path.join(out, name), "Package"], capture_output=True,
                                     text=True, check=True).stdout.strip()
            debs[package] = os.path.join(out, name)
    check(set(debs) == {"tarvizone-redirector", "tarvizone-redirector-desktop"}, f"packages {sorted(debs)}")

    def field(package, name):
        return subprocess.run(["dpkg-deb", "-f", debs[package], name], capture_output=True, text=True,
                              check=True).stdout.strip()

    def contents(package):
        listing = subprocess.run(["dpkg-deb", "-c", debs[package]], capture_output=True, text=True,
                                 check=True).stdout
        return {line.split()[5].lstrip(".") for line in listing.splitlines()}

    failures = []
    runtime_depends, desktop_depends = field("tarvizone-redirector", "Depends"), field("tarvizone-redirector-desktop",
                                                                                        "Depends")
    for package, depends, wanted, unwanted in (
            ("tarvizone-redirector", runtime_depends, ["libsqlite3-0", "libc6", "libstdc++6"], ["libfltk", "libx11"]),
            ("tarvizone-redirector-desktop", desktop_depends,
             ["libfltk1.3", "libx11-6", f"tarvizone-redirector (= {ctx.version})"], ["libsqlite3"])):
        for name in wanted:
            if name not in depends:
                failures.append(f"[{package}] does not depend on {name}: {depends}")
        for name in unwanted:
            if name in depends:
                failures.append(f"[{package}] depends on {name}: {depends}")
        if field(package, "Version") != ctx.version:
            failures.append(f"[{package}] version {field(package, 'Version')}")
    runtime_files, desktop_files = contents("tarvizone-redirector"), contents("tarvizone-redirector-desktop")
    for path in ("/usr/bin/kolm32", "/usr/bin/kolminstall", "/usr/lib/tarvizone/install", "/usr/lib/tarvizone/second",
                 f"/usr/lib/systemd/user/{UNIT}", "/usr/share/man/man1/kolm32.1",
                 "/usr/share/tarvizone/help/index.html", "/usr/share/tarvizone/default-machine.reg"):
        if path not in runtime_files:
            failures.append(f"[tarvizone-redirector] has no {path}")
    if any("kolmui" in p for p in runtime_files) or "/usr/bin/kolmui" not in desktop_files:
        failures.append("kolmui is not in the desktop package alone")
    check(not failures, "\n".join(failures))

    unpacked = os.path.join(ctx.temp, "unpacked")
    for deb in debs.values():
        subprocess.run(["dpkg-deb", "-x", deb, unpacked], check=True, timeout=60)
    usr = os.path.join(unpacked, "usr")
    settings = expect_layout(usr, "/usr/bin/kolm32")
    serve_a_session(os.path.join(usr, "bin"), os.path.join(usr, "share/tarvizone/default-machine.reg"),
                    os.path.join(usr, "bin", "kolm32"), tempfile.mkdtemp(dir=ctx.temp))
    check(settings["ExecStart"] == "/usr/bin/kolm32", settings["ExecStart"])


CASES = [case_help_version_and_unknown_options, case_install_takes_a_script_named_like_an_option,
         case_manual_pages, case_cmake_install_serves_a_session, case_installed_installer_puts_the_product_on_a_root,
         case_debian_packages]


def run(argv):
    ctx = Context(os.path.abspath(argv[0]), argv[1])
    try:
        return run_cases(CASES, ctx, set(argv[2:]))
    finally:
        ctx.close()


if __name__ == "__main__":
    sys.exit(cli(CASES, run))
