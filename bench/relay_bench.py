#!/usr/bin/python3
"""Side-by-side benchmark of the redirected COM port and a socat pty relay.

Both relays sit between an application on a pseudo-terminal and the same
far-end servers on loopback. For each relay it measures:
  - bulk throughput application -> network and network -> application
    (MB/s over the payload, 64 MiB by default),
  - 1-byte round trips through an echo far end (median and p99),
  - the time from open() to the first echoed byte: for the first open of a
    runtime started a moment before, and (the redirector only: socat
    serves one open) the median of three opens of a running runtime,
    each after the notice box of the one before has closed,
  - idle wake-ups per second of the relay process (context switches of all
    its threads while nothing moves),
  - the relay process's peak resident memory,
and prints them with the ratios (redirector / socat). A third column gives
the physical limit of the path the bytes take: the same transfers over a
bare pty and a bare TCP loopback connection with nothing between (for bulk
the slower of the two, for a round trip the two added), and the last column
what share of that limit the redirector reaches.

With --runs N the whole comparison is made N times, the relays taking
turns, and each figure is the median of its N values (the ratios are those
of the medians): run-to-run noise on a shared machine is larger than most
differences worth seeing.

Usage: bench/relay_bench.py [--build DIR] [--mib N] [--rtt N] [--runs N]
Needs socat and the built kolm32, kolmreg (scripts/build.sh).
"""
import argparse
import json
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

CHUNK = 65536


class Listener:
    """A TCP listener on 127.0.0.1 at 10000 + n (the runtime's service
    numbers count from 10000); `serve` runs on each connection in a thread
    of its own."""

    def __init__(self, serve):
        self.serve = serve
        self.sock = None
        for port in range(21000, 60000, 7):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                s.close()
                continue
            self.sock, self.port = s, port
            break
        self.sock.listen(4)
        threading.Thread(target=self._accept, daemon=True).start()

    @property
    def number(self):
        return self.port - 10000

    def _accept(self):
        while True:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(c,), daemon=True).start()

    def close(self):
        self.sock.close()


class FarEnd(Listener):
    """The bench's far ends: echo, sink and source."""

    def __init__(self, mode, source_bytes=0):
        self.mode = mode
        self.source_bytes = source_bytes
        self.received = 0
        self.done = threading.Event()
        super().__init__(self._serve)

    def _serve(self, c):
        c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            if self.mode == "source":
                block = bytes(range(256)) * (CHUNK // 256)
                left = self.source_bytes
                while left > 0:
                    n = c.send(block[: min(left, len(block))])
                    left -= n
                # Stay open until the relay closes, like a device would.
                while c.recv(CHUNK):
                    pass
                return
            while True:
                data = c.recv(CHUNK)
                if not data:
                    return
                if self.mode == "echo":
                    c.sendall(data)
                else:
                    self.received += len(data)
                    if self.received >= self.source_bytes:
                        self.done.set()
        except OSError:
            return
        finally:
            c.close()


def proc_stats(pid):
    """(context switches of all threads, peak RSS in KiB)."""
    switches = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            # The thread ended between the listing and the read: a pump
            # leaves when its session closes, as the bulk runs' do.
            pass
    hwm = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM"):
                hwm = int(line.split()[1])
    return switches, hwm


def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    # TCSANOW: TCSAFLUSH would drop what a relay already delivered.
    tty.setraw(fd, termios.TCSANOW)
    return fd


def read_exact(fd, n, timeout=60.0):
    out = bytearray()
    end = time.monotonic() + timeout
    while len(out) < n:
        left = end - time.monotonic()
        if left <= 0:
            raise TimeoutError(f"read {len(out)} of {n} bytes")
        r, _, _ = select.select([fd], [], [], left)
        if r:
            chunk = os.read(fd, n - len(out))
            if not chunk:
                raise EOFError("hang-up")
            out += chunk
    return bytes(out)


class Relay:
    name = ""
    reopens = False  # whether one relay serves one open after another

    def point_at(self, far):
        raise NotImplementedError

    def path(self):
        raise NotImplementedError

    def pid(self):
        raise NotImplementedError

    def stop(self):
        pass


class Redirector(Relay):
    name = "redirector"
    reopens = True

    def __init__(self, bindir, root):
        self.bindir, self.root = bindir, root
        env = dict(os.environ, KOLM_ROOT=root, KOLM_UI="headless")
        self.env = env
        reg = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "share", "default-machine.reg")
        subprocess.run([f"{bindir}/kolmreg", "import", reg], env=env, check=True, stdout=subprocess.DEVNULL)
        self.proc = subprocess.Popen([f"{bindir}/kolm32"], env=env, stderr=subprocess.DEVNULL)
        link = os.path.join(root, "dev", "COM3")
        for _ in range(200):
            if os.path.islink(link):
                break
            time.sleep(0.05)
        self.link = link

    def point_at(self, far):
        subprocess.run([f"{self.bindir}/kolmreg", "add", r"HKLM\SOFTWARE\Tarvizone\Redirector\1.0", "/v",
                        "Service0", "/t", "REG_SZ", "/d", f"IP:127.0.0.1:{far.number}", "/f"],
                       env=self.env, check=True, stdout=subprocess.DEVNULL)

    def path(self):
        return self.link

    def pid(self):
        return self.proc.pid

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Socat(Relay):
    """socat connects when it starts, not when the pty is opened; it is
    started anew for every far end."""

    name = "socat"

    def __init__(self, workdir):
        self.workdir = workdir
        self.proc = None

    def point_at(self, far):
        self.stop()
        self.link = os.path.join(self.workdir, f"socat-{far.port}")
        self.proc = subprocess.Popen(["socat", f"PTY,raw,echo=0,link={self.link}",
                                      f"TCP:127.0.0.1:{far.port},nodelay"], stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.islink(self.link):
                break
            time.sleep(0.05)

    def path(self):
        return self.link

    def pid(self):
        return self.proc.pid

    def stop(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait(5)
            self.proc = None


def measure(relay, far, size, rtt_count):
    res = {}
    # Time to the first echoed byte, then 1-byte round trips.
    relay.point_at(far["echo"])
    t0 = time.perf_counter()
    fd = open_raw(relay.path())
    os.write(fd, b"x")
    read_exact(fd, 1, 30)
    res["open_to_first_ms"] = (time.perf_counter() - t0) * 1000
    res["rtt_median_us"], res["rtt_p99_us"] = round_trips(fd, fd, rtt_count)
    # Idle wake-ups: the port open and connected, nothing moving.
    s0, _ = proc_stats(relay.pid())
    time.sleep(2.0)
    s1, _ = proc_stats(relay.pid())
    res["idle_wakeups_per_s"] = (s1 - s0) / 2.0
    os.close(fd)

    # Application -> network.
    sink = far["sink"]
    sink.received, sink.source_bytes = 0, size
    sink.done.clear()
    relay.point_at(sink)
    fd = open_raw(relay.path())
    block = bytes(range(256)) * (CHUNK // 256)
    t = time.perf_counter()
    left = size
    while left > 0:
        left -= os.write(fd, block[: min(left, CHUNK)])
    if not sink.done.wait(120):
        raise TimeoutError("sink got %d of %d" % (sink.received, size))
    res["to_net_MBps"] = size / (time.perf_counter() - t) / 1e6
    os.close(fd)

    # Network -> application.
    relay.point_at(far["source"])
    t = time.perf_counter()
    fd = open_raw(relay.path())
    got = 0
    while got < size:
        r, _, _ = select.select([fd], [], [], 60)
        if not r:
            raise TimeoutError("source: %d of %d" % (got, size))
        got += len(os.read(fd, CHUNK))
    res["from_net_MBps"] = size / (time.perf_counter() - t) / 1e6
    os.close(fd)
    res["peak_rss_kib"] = proc_stats(relay.pid())[1]
    res["reopen_ms"] = reopen_times(relay, far["echo"]) if relay.reopens else None
    return res


# The notice box closes "Successfully redirected ..." this long after it
# showed; an application that comes back later finds it closed.
NOTICE_HOLD_S = 2.5


def reopen_times(relay, echo, count=3):
    """Median time from open() to the first echoed byte for applications
    that open the port of a runtime that has been running, each a while
    after the last one closed it."""
    relay.point_at(echo)
    times = []
    for _ in range(count):
        time.sleep(NOTICE_HOLD_S + 0.2)
        t0 = time.perf_counter()
        fd = open_raw(relay.path())
        os.write(fd, b"x")
        read_exact(fd, 1, 30)
        times.append((time.perf_counter() - t0) * 1000)
        os.close(fd)
    return statistics.median(times)


def pipe_rate(write_fd, read_fd, size):
    """MB/s of `size` bytes written on one descriptor and read on another,
    the writer in a process of its own, as in the relays' measurements."""
    block = bytes(range(256)) * (CHUNK // 256)
    t = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            left = size
            while left > 0:
                left -= os.write(write_fd, block[: min(left, CHUNK)])
        finally:
            os._exit(0)
    got = 0
    while got < size:
        chunk = os.read(read_fd, CHUNK)
        if not chunk:
            raise EOFError(f"bare path closed after {got} of {size} bytes")
        got += len(chunk)
    rate = size / (time.perf_counter() - t) / 1e6
    os.waitpid(pid, 0)
    return rate


def round_trips(write_fd, read_fd, count):
    """Median and 99th percentile of 1-byte round trips, in microseconds."""
    samples = []
    for i in range(count):
        b = bytes([i & 0xFF])
        t = time.perf_counter()
        os.write(write_fd, b)
        if read_exact(read_fd, 1) != b:
            raise RuntimeError("echo differs")
        samples.append((time.perf_counter() - t) * 1e6)
    samples.sort()
    return statistics.median(samples), samples[int(len(samples) * 0.99) - 1]


def bare_pty():
    master, slave = os.openpty()
    tty.setraw(slave, termios.TCSANOW)
    return master, slave


def bare_tcp():
    """A connected loopback pair; the descriptors of the two ends."""
    lst = socket.socket()
    lst.bind(("127.0.0.1", 0))
    lst.listen(1)
    a = socket.create_connection(lst.getsockname())
    b, _ = lst.accept()
    lst.close()
    for s in (a, b):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return a, b


def echo_process(fd):
    """Echoes what arrives on fd in a process of its own until it is closed
    or killed; returns its process id."""
    pid = os.fork()
    if pid == 0:
        try:
            while True:
                data = os.read(fd, CHUNK)
                if not data:
                    break
                os.write(fd, data)
        except OSError:
            pass
        os._exit(0)
    return pid


def end_process(pid):
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)


def measure_limits(size, rtt_count):
    """The bare path: a pty (the application's side) and a TCP loopback
    connection (the network's side), each alone."""
    res = {}
    master, slave = bare_pty()
    pty_to_net = pipe_rate(slave, master, size)
    pty_from_net = pipe_rate(master, slave, size)
    echo = echo_process(master)
    pty_rtt = round_trips(slave, slave, rtt_count)
    end_process(echo)
    os.close(slave)
    os.close(master)
    a, b = bare_tcp()
    tcp_rate = pipe_rate(a.fileno(), b.fileno(), size)
    echo = echo_process(b.fileno())
    tcp_rtt = round_trips(a.fileno(), a.fileno(), rtt_count)
    end_process(echo)
    a.close()
    b.close()
    res["to_net_MBps"] = min(pty_to_net, tcp_rate)
    res["from_net_MBps"] = min(pty_from_net, tcp_rate)
    res["rtt_median_us"] = pty_rtt[0] + tcp_rtt[0]
    res["rtt_p99_us"] = pty_rtt[1] + tcp_rtt[1]
    return res


def limits_apart(mib, rtt_count):
    """measure_limits in a process of its own, started without a fork of
    this one. Its writers and echoes are forked processes, and a fork leaves
    every page of the forking process copy-on-write: the first touch of each
    afterwards faults. Run here, that bill (80-odd faults, about 1 ms) fell
    on the next run's first measurement, the redirector's open, and never on
    socat's, which comes after the redirector's."""
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--limits-only", "--mib", str(mib),
                          "--rtt", str(rtt_count)], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(here, "..", "build"))
    ap.add_argument("--mib", type=int, default=64)
    ap.add_argument("--rtt", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--limits-only", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.limits_only:
        print(json.dumps(measure_limits(args.mib << 20, args.rtt)))
        return
    if not shutil.which("socat"):
        sys.exit("socat is not installed (scripts/deps.sh installs it)")
    size = args.mib << 20
    far = {"echo": FarEnd("echo"), "sink": FarEnd("sink", size), "source": FarEnd("source", size)}
    bindir = os.path.join(args.build, "bin")
    runs = {"redirector": [], "socat": [], "limit": []}
    for _ in range(max(1, args.runs)):
        with tempfile.TemporaryDirectory(prefix="kolm-bench-") as work:
            red = Redirector(bindir, os.path.join(work, "root"))
            try:
                runs["redirector"].append(measure(red, far, size, args.rtt))
            finally:
                red.stop()
            so = Socat(work)
            try:
                runs["socat"].append(measure(so, far, size, args.rtt))
            finally:
                so.stop()
            runs["limit"].append(limits_apart(args.mib, args.rtt))
    def median_of(rs, key):
        values = [r[key] for r in rs if r.get(key) is not None]
        return statistics.median(values) if values else None

    results = {name: {key: median_of(rs, key) for key in rs[0]} for name, rs in runs.items()}
    rows = [("to_net_MBps", "application -> network, MB/s"), ("from_net_MBps", "network -> application, MB/s"),
            ("rtt_median_us", "1-byte round trip, median us"), ("rtt_p99_us", "1-byte round trip, p99 us"),
            ("open_to_first_ms", "open() to first echoed byte, ms"),
            ("reopen_ms", "  the same, runtime running, ms"),
            ("idle_wakeups_per_s", "idle wake-ups per second"), ("peak_rss_kib", "peak RSS, KiB")]
    median = f", median of {args.runs} runs" if args.runs > 1 else ""
    print(f"payload {args.mib} MiB, {args.rtt} round trips{median}")
    print(f"{'':34} {'redirector':>12} {'socat':>12} {'ratio':>8} {'limit':>10} {'of limit':>9}")
    for key, label in rows:
        a, b = results["redirector"][key], results["socat"][key]
        ratio = f"{a / b:8.2f}" if b else "       -"
        shown_b = f"{b:12.1f}" if b is not None else f"{'-':>12}"
        limit = results["limit"].get(key)
        if limit is None:
            tail = f"{'-':>10} {'-':>9}"
        else:
            # A share of the limit: for rates the rate over the limit, for
            # times the limit over the time, so 1.00 is as good as it gets.
            share = a / limit if key.endswith("MBps") else limit / a
            tail = f"{limit:10.1f} {share:9.2f}"
        print(f"{label:34} {a:12.1f} {shown_b} {ratio} {tail}")


if __name__ == "__main__":
    main()
