#!/usr/bin/python3
"""From nothing to a working redirected port and back, the way a user goes:
install in script mode on a fresh machine root (whose host has COM1 and
COM2), the setup program putting the product in place, the installed kolm32
serving the new COM port to Python's serial module with devsim as the far
end, then remove taking it all out.

Usage: install_e2e.py BIN_DIR [CASE...] | --list

Prints one line per case and a closing "N passed, M failed" line.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import serial

from e2e_cases import cli
from port_e2e import devsim, stop
from pty_echo_e2e import BOUND, Lines

PRODUCT = r"C:\Program Files\Tarvizone\Redirector"
HELP_PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "help")


class Machine:
    """A fresh machine root whose host has serial ports at 0x3F8 and 0x2F8."""

    def __init__(self, bin_dir):
        self.bin_dir = bin_dir
        self.root = tempfile.mkdtemp(prefix="kolm-install-e2e-")
        sysfs = os.path.join(self.root, "sysfs-tty")
        for n, port in ((0, "0x3F8"), (1, "0x2F8"), (2, "0x3E8")):
            os.makedirs(os.path.join(sysfs, f"ttyS{n}"))
            with open(os.path.join(sysfs, f"ttyS{n}", "type"), "w") as f:
                f.write("0\n" if n == 2 else "4\n")  # ttyS2: no UART
            with open(os.path.join(sysfs, f"ttyS{n}", "port"), "w") as f:
                f.write(port + "\n")
        self.env = dict(os.environ, KOLM_ROOT=self.root, KOLM_SYSFS_TTY=sysfs, KOLM_UI="headless")
        for name in ("DISPLAY", "WINDIR", "KOLM_MSGBOX_ANSWERS"):
            self.env.pop(name, None)
        self.children = []

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def run(self, argv, **kw):
        return subprocess.run(argv, env=self.env, text=True, capture_output=True, timeout=BOUND, **kw)

    def kolmreg(self, *args):
        r = self.run([os.path.join(self.bin_dir, "kolmreg"), *args])
        return r.returncode, r.stdout

    def close(self):
        for c in self.children:
            if c.poll() is None:
                c.kill()
                c.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def wait_file(path, text):
    """Whether the file comes to hold text within the bound (the setup
    program runs on after the installer and says nothing else)."""
    end = time.monotonic() + BOUND
    while time.monotonic() < end:
        try:
            with open(path, newline="") as f:
                if text in f.read():
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.05)
    return False


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def case_install_serve_and_remove(bin_dir, product_dir=None, help_pages=HELP_PAGES):
    """product_dir: where the installer is, when not beside the tools;
    help_pages: the pages the setup program is to copy."""
    m = Machine(bin_dir)
    far, n = devsim(bin_dir)
    try:
        script = m.path("inst.txt")
        with open(script, "w") as f:
            f.write(f"path={PRODUCT}\nsv1=ip:localhost:{n}\nsv2=ipx:demo\n")
        r = m.run([os.path.join(product_dir or bin_dir, "install"), script])
        check(r.returncode == 0, f"install exited {r.returncode}: {r.stderr}")
        check(wait_file(m.path("drive_c", "WINDOWS", "kolmvx.log"), "ResultCode=0\r\n"),
              "the setup program did not report success")

        # The port entry with the bytes the device registry needs: COM3 at
        # 0x3E8, next to the host's COM1 and COM2.
        out = m.path("port.reg")
        status, _ = m.kolmreg("export", r"HKLM\Enum\Root\Ports\0001", out)
        check(status == 0, "no port entry 0001")
        with open(out) as f:
            exported = f.read().replace("\\\n  ", "")  # long hex values are continued on the next line
        for line in ('"PORTNAME"="COM3"', r'"Driver"="Ports\\0002"', '"Mfg"="Tarvizone"',
                     '"ForcedConfig"=hex:00,04,00,00,00,00,00,00,20,00,00,00,02,00,00,00,01,00,02,00,e8,03,ef,'
                     '03,00,00,00,00,f0,ff,08,00,e8,03,e8,03,00,00,c8,c1,00,00,00,00'):
            check(line in exported, f"{line} not in\n{exported}")
        _, config = m.kolmreg("query", r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0")
        check(f"IP:localhost:{n}" in config and "IPX:00000000:00-00-00-00-00-01:DEMO" in config, config)

        # What the setup program copied: the programs beside the installer
        # and the help pages.
        installed = m.path("drive_c", "Program Files", "Tarvizone", "Redirector")
        for name in ("kolm32", "kolmset32", "remove"):
            with open(os.path.join(product_dir or bin_dir, name), "rb") as a, \
                    open(os.path.join(installed, name), "rb") as b:
                check(a.read() == b.read(), f"the installed {name} is not the one beside the installer")
        pages = sorted(os.listdir(help_pages))
        check(sorted(os.listdir(os.path.join(installed, "help"))) == pages, "the help pages were not all copied")

        # The installed runtime, from where the setup program put it.
        kolm32 = subprocess.Popen([m.path("drive_c", "Program Files", "Tarvizone", "Redirector", "kolm32")],
                                  env=m.env, text=True, stderr=subprocess.PIPE)
        m.children.append(kolm32)
        line = Lines(kolm32.stderr).wait_for(lambda l: l.startswith("kolm32: COM3 is "))
        check(line, "the installed kolm32 did not publish COM3")
        payload = bytes(range(256)) * 16
        with serial.Serial(line.split()[3], timeout=BOUND) as s:
            s.write(payload)
            got = s.read(len(payload))
        check(got == payload, f"{len(got)} of {len(payload)} bytes came back")

        # remove ends the runtime and leaves nothing of the product.
        r = m.run([m.path("drive_c", "Program Files", "Tarvizone", "Redirector", "remove")])
        check(r.returncode == 0, f"remove exited {r.returncode}: {r.stderr}")
        check(kolm32.wait(BOUND) == 0, "kolm32 did not end")
        _, hklm = m.kolmreg("query", "HKLM", "/s")
        _, tree = m.kolmreg("query", r"HKEY_DYN_DATA\Config Manager\Enum", "/s")
        for text in ("Tarvizone", "kolmvx", "Redirector", r"Root\Ports\0"):
            check(text.lower() not in (hklm + tree).lower(), f"{text} is still in the registry:\n{hklm}{tree}")
        check("COM1" in hklm and "COM2" in hklm, "the host's own ports went too")
        left = [os.path.join(d, f) for d, _, files in os.walk(m.path("drive_c")) for f in files]
        check(not left, f"files left: {left}")
        check(not os.path.exists(m.path("drive_c", "Program Files")), "the product's folders are left")
        check(not os.path.exists(m.path("dev", "COM3")), "the port link is left")
    finally:
        stop(far)
        m.close()


CASES = [case_install_serve_and_remove]


if __name__ == "__main__":
    sys.exit(cli(CASES))
