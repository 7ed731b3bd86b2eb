#!/usr/bin/python3
"""Faults an outside probe of the built programs found, each as a case run
against the real binaries: a far end that closes right after accepting,
quick close-and-reopen cycles with the trace on, a stale port link after
kill -9, a second runtime on one machine root, and a signal meant for one
runtime reaching another process's window.

Usage: probe_e2e.py BIN_DIR [--cycles N] [--rounds N] [CASE...] | --list

--cycles sets the quick cycles (default 300; the probe ran 2,000), --rounds
the accept-and-close rounds (default 100).
"""
import argparse
import os
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time

from e2e_cases import cli, run_cases
from port_e2e import Rig, devsim, stop
from pty_echo_e2e import BOUND, Lines, echo_through

SETTINGS = {"cycles": 300, "rounds": 100}
CONFIG_KEY = r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0"


class HangingUpFarEnd:
    """A TCP service at 10000 + number that accepts and closes at once."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.number = self.sock.getsockname()[1] - 10000
        assert self.number > 0
        self.accepted = 0
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.accepted += 1
            conn.close()

    def close(self):
        self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()


def hung_up_within(link, bound):
    """Opens the port, writes a byte and tells whether the line hangs up
    within `bound` seconds."""
    fd = os.open(link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        try:
            os.write(fd, b"x")
        except OSError:
            return True  # already hung up
        p = select.poll()
        p.register(fd, select.POLLIN | select.POLLHUP)
        end = time.monotonic() + bound
        while time.monotonic() < end:
            for _, ev in p.poll(max(1, int((end - time.monotonic()) * 1000))):
                if ev & (select.POLLHUP | select.POLLERR):
                    return True
                try:
                    if os.read(fd, 64) == b"":
                        return True
                except OSError:
                    return True
        return False
    finally:
        os.close(fd)


def case_far_end_closes_at_accept(bin_dir):
    far = HangingUpFarEnd()
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{far.number}"])
    name = f"127.0.0.1:{far.number}"
    try:
        rounds, hung_up, disordered = SETTINGS["rounds"], 0, []
        for i in range(rounds):
            seen = len(rig.screen())
            if hung_up_within(rig.link, 3.0):
                hung_up += 1
            # Both notices of this round, the success first. (The box shows
            # each notice together with the one before it.)
            success = f"Successfully redirected COM3 to service {name}"
            if not rig.wait_screen_after(seen, success, bound=5):
                disordered.append(i)
                continue
            after = seen + rig.screen()[seen:].rfind(success)
            if not rig.wait_screen_after(after, f"{name} closed the connection on COM3", bound=5):
                disordered.append(i)
        print(f"     {hung_up} of {rounds} hang-ups within 3 s, {len(disordered)} rounds without both notices in order")
        assert hung_up == rounds, f"{rounds - hung_up} of {rounds} sessions saw no hang-up"
        assert not disordered, f"no close notice after the success notice in rounds {disordered[:10]}"
    finally:
        rig.close()
        far.close()


SOCKET_ERRORS = {"10038": "WSAENOTSOCK", "10093": "WSANOTINITIALISED"}


def case_quick_cycles_with_trace(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"], KOLM_TRACE="1")
    try:
        cycles, slow, worst = SETTINGS["cycles"], [], 0.0
        for i in range(cycles):
            t = time.monotonic()
            data = b"cycle %d" % i
            got = echo_through(rig.link, data)
            took = time.monotonic() - t
            worst = max(worst, took)
            assert got == data, f"cycle {i}: {got!r}"
            # The stall the probe saw is the 3 s a close may wait for its
            # output to drain; 2 s leaves a loaded machine room to be slow.
            if took > 2.0:
                slow.append((i, round(took, 2)))
        trace = "\n".join(rig.err.lines)
        errors = {name: len(re.findall(rf"(?:WS error: |socket (?:read|write) error ){code}\b", trace))
                  for code, name in SOCKET_ERRORS.items()}
        print(f"     {cycles} cycles, slowest {worst * 1000:.0f} ms, {errors}")
        assert not slow, f"cycles over 2 s: {slow[:10]}"
        assert not any(errors.values()), f"socket errors in the trace: {errors}"
    finally:
        rig.close()
        stop(far)


def ptys_until(slave, most=64):
    """Opens pseudo-terminals, as other programs would, until one gets the
    name `slave`; returns (all pairs opened, that pair's master or None)."""
    pairs = []
    for _ in range(most):
        m, s = os.openpty()
        pairs.append((m, s))
        if os.ttyname(s) == slave:
            return pairs, m
    return pairs, None


def case_stale_link_after_kill9(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        dead_slave = rig.slave
        rig.kolm32.kill()
        rig.kolm32.wait()
        pairs, foreign = ptys_until(dead_slave)
        try:
            try:
                fd = os.open(rig.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            except OSError:
                fd = None
            if fd is not None:
                leaked = b""
                if foreign is not None:
                    os.write(fd, b"into someone else's terminal")
                    if select.select([foreign], [], [], 1)[0]:
                        leaked = os.read(foreign, 64)
                os.close(fd)
                raise AssertionError(f"the dead runtime's link still opens a terminal (got there: {leaked!r})")
        finally:
            for m, s in pairs:
                os.close(m)
                os.close(s)
        # A restarted runtime takes the name over again.
        rig.start_runtime()
        assert echo_through(rig.link, b"restarted") == b"restarted"
    finally:
        rig.close()
        stop(far)


def published_hwnd(rig):
    """The window kolm32 published in the registry, once it has: it
    publishes its port first, so the port's line on its standard error
    does not mean the window is there yet."""
    end = time.monotonic() + BOUND
    while True:
        r = subprocess.run([rig.bin("kolmreg"), "query", CONFIG_KEY, "/v", "HWND"], env=rig.env,
                           capture_output=True, text=True)
        if r.returncode == 0 and int(r.stdout.split()[-1], 16):
            return int(r.stdout.split()[-1], 16)
        assert time.monotonic() < end, "kolm32 published no window"
        time.sleep(0.02)


def case_second_runtime_refused(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        hwnd, target = published_hwnd(rig), os.readlink(rig.link)
        try:
            second = subprocess.run([rig.bin("kolm32")], env=rig.env, capture_output=True, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            raise AssertionError("a second kolm32 started on the same machine root")
        assert second.returncode != 0, "the second kolm32 exited with 0"
        assert "already running" in second.stderr, second.stderr
        assert published_hwnd(rig) == hwnd, "the second kolm32 overwrote HWND"
        assert os.readlink(rig.link) == target, "the second kolm32 took the link over"
        assert echo_through(rig.link, b"still the first") == b"still the first"
    finally:
        rig.close()
        stop(far)


def case_signal_ends_only_its_own_process(bin_dir):
    """SIGTERM to kolm32 ends kolm32, even when the window published in the
    registry is another process's."""
    rig = Rig(bin_dir, ["IP:127.0.0.1:1"])
    try:
        peer = rig.spawn([rig.bin("user_test_peer"), "ProbePeer", "probe peer"], stdout=subprocess.PIPE)
        ready = Lines(peer.stdout).wait_for(lambda l: l.startswith("ready "))
        assert ready, "the peer did not start"
        other = ready.split()[1]
        # kolm32's own window first, so that it cannot overwrite the peer's.
        published_hwnd(rig)
        subprocess.run([rig.bin("kolmreg"), "add", CONFIG_KEY, "/v", "HWND", "/t", "REG_DWORD", "/d", other, "/f"],
                       env=rig.env, check=True, stdout=subprocess.DEVNULL)
        rig.kolm32.send_signal(signal.SIGTERM)
        try:
            rig.kolm32.wait(10)
        except subprocess.TimeoutExpired:
            raise AssertionError("SIGTERM did not end kolm32")
        found = subprocess.run([rig.bin("kolmwin"), "find", "ProbePeer", "probe peer"], env=rig.env,
                               capture_output=True, text=True)
        assert peer.poll() is None and found.returncode == 0, "the signal ended the other process's window"
    finally:
        rig.close()


CASES = [case_far_end_closes_at_accept, case_quick_cycles_with_trace, case_stale_link_after_kill9,
         case_second_runtime_refused, case_signal_ends_only_its_own_process]


def run(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--cycles", type=int, default=SETTINGS["cycles"])
    ap.add_argument("--rounds", type=int, default=SETTINGS["rounds"])
    ap.add_argument("cases", nargs="*")
    args = ap.parse_intermixed_args(argv)
    SETTINGS.update(cycles=args.cycles, rounds=args.rounds)
    return run_cases(CASES, args.bin_dir, set(args.cases))


if __name__ == "__main__":
    sys.exit(cli(CASES, run))
