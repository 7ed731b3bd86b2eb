#!/usr/bin/python3
"""The redirected COM port end to end with real applications and
independent peers: kolm32 with its pty port, far ends from devsim and
socat, applications from Python's serial module, termios and picocom.

Usage: port_e2e.py BIN_DIR [CASE...] | --list

Each case gets a fresh machine root and a fresh kolm32. Prints one line per
case and a closing "N passed, M failed" line.
"""
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time

import serial

from e2e_cases import cli
from pty_echo_e2e import BOUND, Lines, echo_through, end_children


def machine(services):
    lines = ["REGEDIT4", "", r"[HKEY_LOCAL_MACHINE\SOFTWARE\Tarvizone\Redirector\1.0]"]
    for i in range(4):
        lines.append(f'"Service{i}"="{services[i] if i < len(services) else ""}"')
    lines += ["", r"[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Ports\0003]",
              '"PortDriver"="kolmvx.vxd"', "", r"[HKEY_LOCAL_MACHINE\Enum\Root\Ports\0001]",
              '"Mfg"="Tarvizone"', r'"Driver"="Ports\\0003"', '"PORTNAME"="COM3"', ""]
    return "\n".join(lines) + "\n"


def free_service_port():
    """A TCP port above 10000 that is free now, as 10000 + N."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    assert port > 10000, port
    return port


class Rig:
    def __init__(self, bin_dir, services, **env):
        self.bin_dir = bin_dir
        self.root = tempfile.mkdtemp(prefix="kolm-e2e-")
        self.env = dict(os.environ, KOLM_ROOT=self.root, KOLM_UI="headless", **env)
        self.env.pop("DISPLAY", None)
        self.children = []
        reg = os.path.join(self.root, "machine.reg")
        with open(reg, "w") as f:
            f.write(machine(services))
        subprocess.run([self.bin("kolmreg"), "import", reg], check=True, env=self.env, stdout=subprocess.DEVNULL)
        self.start_runtime()

    def start_runtime(self):
        """Starts kolm32 and waits until it has published COM3: its link,
        and the slave it leads to."""
        self.kolm32 = self.spawn([self.bin("kolm32")], stderr=subprocess.PIPE)
        self.err = Lines(self.kolm32.stderr)
        line = self.err.wait_for(lambda l: l.startswith("kolm32: COM3 is "))
        assert line, "kolm32 did not publish COM3"
        self.link = line.split()[3]
        self.slave = line.split()[4].strip("()")

    def bin(self, name):
        return os.path.join(self.bin_dir, name)

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, env=self.env, text=True, **kw)
        self.children.append(p)
        return p

    def screen(self):
        try:
            with open(os.path.join(self.root, "run", "screen.log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_screen(self, text, bound=BOUND):
        end = time.monotonic() + bound
        while time.monotonic() < end:
            if text in self.screen():
                return True
            time.sleep(0.02)
        return False

    def wait_screen_after(self, offset, text, bound=BOUND):
        """Waits until `text` is on the screen log past `offset`."""
        end = time.monotonic() + bound
        while time.monotonic() < end:
            if text in self.screen()[offset:]:
                return True
            time.sleep(0.02)
        return False

    def close(self):
        end_children(self.children)
        shutil.rmtree(self.root, ignore_errors=True)


def devsim(bin_dir, mode="echo"):
    """A devsim TCP channel at a port above 10000: (process, N)."""
    for _ in range(20):
        port = free_service_port()
        p = subprocess.Popen([os.path.join(bin_dir, "devsim"), "--tcp", f"{port},{mode}"], stdout=subprocess.PIPE,
                             text=True)
        out = Lines(p.stdout)
        if out.wait_for(lambda l: l == "ready", 10):
            return p, port - 10000
        p.kill()
        p.wait()
    raise AssertionError("devsim did not start")


def stop(p):
    p.terminate()
    p.wait(5)


def write_until_held_back(port, payload):
    """Starts writing payload to the port on a thread and returns it once
    the writes have stalled for half a second: every buffer on the way is
    full and the application is held back."""
    written = [0]

    def writer():
        for i in range(0, len(payload), 4096):
            written[0] += port.write(payload[i:i + 4096])

    t = threading.Thread(target=writer)
    t.start()
    last, still = -1, 0
    while still < 25 and written[0] < len(payload):
        still = still + 1 if written[0] == last else 0
        last = written[0]
        time.sleep(0.02)
    assert written[0] < len(payload), "the application was never held back"
    return t


def case_socat_echo_all_bytes(bin_dir):
    port = free_service_port()
    far = subprocess.Popen(["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr,fork", "PIPE"])
    try:
        deadline = time.monotonic() + BOUND
        while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
            assert time.monotonic() < deadline, "socat did not listen"
            time.sleep(0.02)
        rig = Rig(bin_dir, [f"IP:127.0.0.1:{port - 10000}"])
        try:
            payload = bytes(range(256)) * 4096  # 1 MiB, every byte value
            assert echo_through(rig.link, payload) == payload, "echo through socat differs"
        finally:
            rig.close()
    finally:
        stop(far)


def case_64_mib_both_ways(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        payload = random.Random(64).randbytes(64 << 20)
        got = echo_through(rig.link, payload)
        assert got == payload, f"{len(got)} of {len(payload)} bytes back intact"
    finally:
        rig.close()
        stop(far)


def case_slow_application_reader(bin_dir):
    """The application reads only after its writes have stalled: every
    buffer on the way fills, and nothing is lost."""
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        port = serial.Serial(rig.link, 115200, timeout=BOUND)
        # More than every buffer on the way holds (loopback TCP buffers
        # grow to several MiB each way).
        payload = random.Random(3).randbytes(48 << 20)
        t = write_until_held_back(port, payload)
        got = bytearray()
        while len(got) < len(payload):
            chunk = port.read(min(65536, len(payload) - len(got)))
            assert chunk, f"read stalled at {len(got)}"
            got += chunk
        t.join(BOUND)
        port.close()
        assert bytes(got) == payload, "bytes lost or changed under backpressure"
    finally:
        rig.close()
        stop(far)


def case_failover_from_a_refused_service(bin_dir):
    refuse = socket.socket()
    refuse.bind(("127.0.0.1", 0))  # bound, never listening: connects are refused
    refused = refuse.getsockname()[1]
    assert refused > 10000
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{refused - 10000}", f"IP:127.0.0.1:{n}"])
    try:
        assert echo_through(rig.link, b"failover") == b"failover"
        assert rig.wait_screen("First attempt failed.  Will try again.")
        assert rig.wait_screen(f"Successfully redirected COM3 to service 127.0.0.1:{n}")
    finally:
        rig.close()
        stop(far)
        refuse.close()


def case_far_end_closes_then_reconnect(bin_dir):
    far, n = devsim(bin_dir, "close:5000")
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        port = serial.Serial(rig.link, 115200, timeout=BOUND)
        port.write(bytes(20000))
        got = bytearray()
        try:
            while True:
                chunk = port.read(4096)
                if not chunk:
                    break
                got += chunk
        except serial.SerialException:
            pass  # the hang-up
        port.close()
        assert len(got) <= 5000, len(got)
        assert rig.wait_screen(f"127.0.0.1:{n} closed the connection on COM3"), "no close notice"
        # The next open connects again.
        assert echo_through(rig.link, b"again") == b"again", "no new session after the hang-up"
    finally:
        rig.close()
        stop(far)


def case_dtr_drop_and_flush(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        port = serial.Serial(rig.link, 115200, timeout=BOUND)
        port.write(b"ping")
        assert port.read(4) == b"ping"
        # A purge of the application's output keeps the connection.
        termios.tcflush(port.fileno(), termios.TCOFLUSH)
        port.write(b"pong")
        assert port.read(4) == b"pong", "the connection did not survive a flush"
        # Speed 0 drops DTR: the runtime closes the connection and says so.
        attrs = termios.tcgetattr(port.fileno())
        attrs[4] = attrs[5] = termios.B0
        termios.tcsetattr(port.fileno(), termios.TCSANOW, attrs)
        assert rig.wait_screen(f"127.0.0.1:{n} closed the connection on COM3"), "no notice after DTR drop"
        port.close()
        assert echo_through(rig.link, b"after") == b"after"
    finally:
        rig.close()
        stop(far)


def case_ser2net_far_end(bin_dir):
    """ser2net as the far end, serving a serial line whose other side
    echoes: the bytes cross a second pty and come back unchanged."""
    tmp = tempfile.mkdtemp(prefix="kolm-ser2net-")
    children = []
    rig = None
    try:
        line = os.path.join(tmp, "line")
        echo = subprocess.Popen(["socat", f"PTY,link={line},raw,echo=0", "PIPE"])
        children.append(echo)
        deadline = time.monotonic() + BOUND
        while not os.path.exists(line):
            assert time.monotonic() < deadline and echo.poll() is None, "socat made no line"
            time.sleep(0.02)
        port = free_service_port()
        config = os.path.join(tmp, "ser2net.yaml")
        with open(config, "w") as f:
            f.write("connection: &line\n"
                    f"  accepter: tcp,127.0.0.1,{port}\n"
                    f"  connector: serialdev,{line},115200n81,local\n"
                    "  options:\n"
                    "    kickolduser: true\n")
        server = subprocess.Popen(["ser2net", "-n", "-d", "-c", config, "-P", os.path.join(tmp, "pid")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        children.append(server)
        while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
            assert time.monotonic() < deadline and server.poll() is None, "ser2net did not listen"
            time.sleep(0.02)
        rig = Rig(bin_dir, [f"IP:127.0.0.1:{port - 10000}"])
        payload = bytes(range(256)) * 256  # 64 KiB, every byte value
        assert echo_through(rig.link, payload) == payload, "echo through ser2net differs"
        assert echo_through(rig.link, b"second session") == b"second session"
    finally:
        if rig:
            rig.close()
        for c in reversed(children):
            stop(c)
        shutil.rmtree(tmp, ignore_errors=True)


def case_slow_network_reader(bin_dir):
    """The far end reads only once the application's writes have stalled:
    the runtime's queue, the driver's ring and the pty all fill, the
    application is held back, and nothing is lost."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    n = listener.getsockname()[1] - 10000
    assert n > 0
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        port = serial.Serial(rig.link, 115200, timeout=BOUND)
        listener.settimeout(BOUND)
        conn, _ = listener.accept()
        payload = random.Random(5).randbytes(24 << 20)
        t = write_until_held_back(port, payload)
        conn.settimeout(BOUND)
        got = bytearray()
        while len(got) < len(payload):
            chunk = conn.recv(65536)
            assert chunk, f"the stream ended at {len(got)}"
            got += chunk
        t.join(BOUND)
        assert bytes(got) == payload, "bytes lost or changed under backpressure towards the network"
        port.close()
        conn.close()
    finally:
        rig.close()
        listener.close()


def case_picocom(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        out = subprocess.run(["picocom", "-q", "-b", "9600", "--initstring", "hello picocom", "-x", "2000",
                              rig.link], stdin=subprocess.DEVNULL, capture_output=True, timeout=BOUND)
        assert b"hello picocom" in out.stdout, out.stdout + out.stderr
    finally:
        rig.close()
        stop(far)


def private_segment():
    """Settings of a private IPX segment for one case: a group drawn at
    random on a UDP port the kernel just handed out, and short SPX timers so
    a vanished peer is noticed within seconds."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    r = random.Random()
    return {"KOLM_IPX_IF": "127.0.0.1", "KOLM_IPX_GROUP": f"239.255.{r.randint(1, 254)}.{r.randint(1, 254)}:{port}",
            "KOLM_IPX_NET": "0000000A", "KOLM_SPX_LISTEN_MS": "500", "KOLM_SPX_ABORT_MS": "3000"}


def spx_devsim(bin_dir, segment, *args):
    p = subprocess.Popen([os.path.join(bin_dir, "devsim"), "--spx", *args], stdout=subprocess.PIPE, text=True,
                         env=dict(os.environ, **segment))
    out = Lines(p.stdout)
    assert out.wait_for(lambda l: l == "ready", 10), "devsim did not start"
    return p, out


def case_ipx_by_name_then_by_address(bin_dir):
    segment = private_segment()
    os.environ.update(segment)
    try:
        far, out = spx_devsim(bin_dir, segment, "--sap", "PORTECHO,5000")
        where = out.wait_for(lambda l: l.startswith("sap PORTECHO ")).split()[2]  # NNNNNNNN:XXXXXXXXXXXX:5000
        rig = Rig(bin_dir, ["IPX:00000000:00-00-00-00-00-01:PORTECHO",
                            "IPX:00000000:00-00-00-00-00-01:" + where])
        try:
            payload = bytes(range(256)) * 1024
            assert echo_through(rig.link, payload) == payload, "echo by SAP name differs"
            assert rig.wait_screen("Successfully redirected COM3 to service PORTECHO")
            # The second service is the same echo given by its address; with
            # the first one gone, the port reaches it without a SAP query.
            subprocess.run([rig.bin("kolmreg"), "add", r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0", "/v",
                            "Service0", "/t", "REG_SZ", "/d", "", "/f"], env=rig.env, check=True,
                           stdout=subprocess.DEVNULL)
            assert echo_through(rig.link, b"by address") == b"by address"
            assert rig.wait_screen("Successfully redirected COM3 to service " + where)
        finally:
            rig.close()
            stop(far)
    finally:
        for k in segment:
            os.environ.pop(k, None)


def case_ipx_peer_vanishes(bin_dir):
    segment = private_segment()
    os.environ.update(segment)
    try:
        far, _ = spx_devsim(bin_dir, segment, "--sap", "VANISH")
        rig = Rig(bin_dir, ["IPX:00000000:00-00-00-00-00-01:VANISH"])
        try:
            port = serial.Serial(rig.link, 115200, timeout=BOUND)
            port.write(b"hello")
            assert port.read(5) == b"hello"
            far.kill()  # gone without a word: only the watchdog can tell
            far.wait()
            assert rig.wait_screen("VANISH closed the connection on COM3"), "the vanished peer was not noticed"
            try:
                assert port.read(1) == b"", "data after the hang-up"
            except serial.SerialException:
                pass
            port.close()
        finally:
            rig.close()
    finally:
        for k in segment:
            os.environ.pop(k, None)


def census(pid):
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    threads = len(os.listdir(f"/proc/{pid}/task"))
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS"))
    return fds, threads, rss


def case_200_sessions_without_growth(bin_dir):
    far, n = devsim(bin_dir)
    rig = Rig(bin_dir, [f"IP:127.0.0.1:{n}"])
    try:
        for _ in range(10):
            assert echo_through(rig.link, b"warm") == b"warm"
        before = census(rig.kolm32.pid)
        for i in range(200):
            data = bytes([i % 256]) * 8
            got = echo_through(rig.link, data)
            assert got == data, f"session {i}: {got!r}"
        # Threads of the last session end once its close has gone through;
        # a descriptor may be open a moment longer (the socket's, or the
        # screen log while a notice line is written).
        deadline = time.monotonic() + BOUND
        after = census(rig.kolm32.pid)
        while (after[0] > before[0] or after[1] > before[1]) and time.monotonic() < deadline:
            time.sleep(0.05)
            after = census(rig.kolm32.pid)
        assert after[0] <= before[0], f"descriptors {before[0]} -> {after[0]}"
        assert after[1] <= before[1], f"threads {before[1]} -> {after[1]}"
        assert after[2] <= before[2] + 2048, f"RSS {before[2]} -> {after[2]} KiB"
    finally:
        rig.close()
        stop(far)


CASES = [case_socat_echo_all_bytes, case_ser2net_far_end, case_64_mib_both_ways, case_slow_application_reader,
         case_slow_network_reader,
         case_failover_from_a_refused_service, case_far_end_closes_then_reconnect, case_dtr_drop_and_flush,
         case_picocom, case_ipx_by_name_then_by_address, case_ipx_peer_vanishes,
         case_200_sessions_without_growth]


if __name__ == "__main__":
    sys.exit(cli(CASES))
