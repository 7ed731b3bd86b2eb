#!/usr/bin/python3
"""The whole runtime end to end: kolm32 with its pty port, devsim as the far
end echoing every byte, and Python's serial module as the application.

Usage: pty_echo_e2e.py BIN_DIR [CASE...] | --list

A fresh machine root is set up from a .reg (kolmreg import) with one
redirected port and one TCP service, 127.0.0.1:N, which the runtime reaches
at TCP port 10000 + N; devsim listens on a free port above 10000 and N is
chosen to land on it.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import serial

from e2e_cases import cli

BOUND = 30  # seconds for anything to happen


class Lines:
    """Collects the lines a child writes, for waiting on one of them."""

    def __init__(self, stream):
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for line in stream:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()

    def wait_for(self, pred, bound=BOUND):
        with self.cond:
            ok = self.cond.wait_for(lambda: any(pred(l) for l in self.lines), timeout=bound)
            return next((l for l in self.lines if pred(l)), None) if ok else None


def end_children(children):
    """Ends the processes a run started, newest first: SIGTERM, then
    SIGKILL for one that does not end within 5 seconds."""
    for c in reversed(children):
        if c.poll() is None:
            c.send_signal(signal.SIGTERM)
            try:
                c.wait(5)
            except subprocess.TimeoutExpired:
                c.kill()
                c.wait()


def registry(service_number):
    return (
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvizone\\Redirector\\1.0]\n"
        f'"Service0"="IP:127.0.0.1:{service_number}"\n'
        '"Service1"=""\n"Service2"=""\n"Service3"=""\n\n'
        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\0003]\n"
        '"DevLoader"="*vcomm"\n"PortDriver"="kolmvx.vxd"\n\n'
        "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001]\n"
        '"Class"="Ports"\n"Mfg"="Tarvizone"\n"Driver"="Ports\\\\0003"\n"PORTNAME"="COM3"\n\n'
    )


def echo_through(link, payload):
    """Opens the port, sends payload while reading its echo, closes."""
    port = serial.Serial(link, 115200, timeout=BOUND)
    failure = []

    def writer():
        try:
            for i in range(0, len(payload), 4096):
                port.write(payload[i:i + 4096])
        except Exception as e:  # reported by the reader's check
            failure.append(e)

    t = threading.Thread(target=writer)
    t.start()
    got = bytearray()
    while len(got) < len(payload):
        chunk = port.read(len(payload) - len(got))
        if not chunk:
            break
        got += chunk
    t.join(BOUND)
    port.close()
    if failure:
        raise failure[0]
    return bytes(got)


def case_echo_then_end_on_sigterm(bin_dir):
    """1 MiB of every byte value echoed, a second session, and SIGTERM
    taking the port's link away."""
    root = tempfile.mkdtemp(prefix="kolm-e2e-")
    env = dict(os.environ, KOLM_ROOT=root, KOLM_UI="headless")
    env.pop("DISPLAY", None)
    children = []
    err = None
    try:
        devsim = subprocess.Popen([os.path.join(bin_dir, "devsim"), "--tcp", "0"], stdout=subprocess.PIPE,
                                  text=True, env=env)
        children.append(devsim)
        out = Lines(devsim.stdout)
        listen = out.wait_for(lambda l: l.startswith("tcp "))
        assert listen and out.wait_for(lambda l: l == "ready"), "devsim did not start"
        tcp_port = int(listen.split()[1].rsplit(":", 1)[1])
        assert tcp_port > 10000, f"devsim's port {tcp_port} is not reachable as 10000 + N"

        reg = os.path.join(root, "machine.reg")
        with open(reg, "w") as f:
            f.write(registry(tcp_port - 10000))
        subprocess.run([os.path.join(bin_dir, "kolmreg"), "import", reg], check=True, env=env)

        kolm32 = subprocess.Popen([os.path.join(bin_dir, "kolm32")], stderr=subprocess.PIPE, text=True, env=env)
        children.append(kolm32)
        err = Lines(kolm32.stderr)
        line = err.wait_for(lambda l: l.startswith("kolm32: COM3 is "))
        assert line, "kolm32 did not publish COM3"
        link = line.split()[3]
        assert os.path.realpath(link).startswith("/dev/pts/"), line

        payload = random.Random(7).randbytes(1 << 20)
        got = echo_through(link, payload)
        assert got == payload, f"echo differs: {len(got)} of {len(payload)} bytes back"

        again = bytes(range(256)) * 4
        assert echo_through(link, again) == again, "second session did not echo"

        kolm32.send_signal(signal.SIGTERM)
        kolm32.wait(BOUND)
        assert not os.path.lexists(link), "link left behind after SIGTERM"
    except Exception:
        if err is not None:
            print("kolm32 said:\n  " + "\n  ".join(err.lines[-int(os.environ.get("E2E_LINES", "40")):]))
        raise
    finally:
        for c in children:
            if c.poll() is None:
                c.kill()
                c.wait()
        shutil.rmtree(root, ignore_errors=True)


CASES = [case_echo_then_end_on_sigterm]


if __name__ == "__main__":
    sys.exit(cli(CASES))
