#!/usr/bin/python3
"""Long run of the redirected port: 1 GiB each way, both ends pausing.

An application on the redirected COM port and a far end on loopback move
--mib MiB (1024 by default) first from the application to the network, then
back, while each of them stops now and then for a random while (up to
--pause-ms) the way a slow device or a busy program does. It fails when a
byte arrives wrong, out of order, twice or not at all, when nothing moves
for --stall seconds while neither end is pausing, or when the runtime's
resident memory grows by more than --rss-growth KiB after the first tenth
of each direction.

Usage: bench/soak.py [--build DIR] [--mib N] [--seed N]
Needs the built kolm32 and kolmreg (scripts/build.sh kolm32 kolmreg).
"""
import argparse
import os
import random
import select
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from relay_bench import Listener, Redirector, open_raw  # noqa: E402

CHUNK = 65536
# A prime period: a lost or doubled piece of any length but a multiple of
# it shifts every byte after it, and the count catches the multiples.
PERIOD = 65521


class Pattern:
    def __init__(self, seed):
        rnd = random.Random(seed)
        one = bytes(rnd.getrandbits(8) for _ in range(PERIOD))
        self.big = one * 3

    def at(self, offset, n):
        start = offset % PERIOD
        return self.big[start:start + n]


class Pauser:
    """Decides when one end stops, and for how long: after a random stretch
    of work, a random pause. `paused` is set while it sleeps, so the stall
    watch does not count its own pauses as stalls."""

    def __init__(self, rnd, pause_ms):
        self.rnd = rnd
        self.pause_ms = pause_ms
        self.paused = threading.Event()
        self.next = time.monotonic() + rnd.uniform(0.05, 0.5)

    def maybe_pause(self):
        now = time.monotonic()
        if now < self.next:
            return
        self.paused.set()
        time.sleep(self.rnd.uniform(0.0, self.pause_ms / 1000.0))
        self.paused.clear()
        self.next = time.monotonic() + self.rnd.uniform(0.05, 0.5)


class Progress:
    """What has arrived of one direction, checked against the pattern."""

    def __init__(self, pattern, size):
        self.pattern = pattern
        self.size = size
        self.moved = 0
        self.error = None
        self.done = threading.Event()

    def take(self, data, end):
        """Checks and counts what arrived; false (and failed) when the
        receiving side saw its `end` or wrong bytes."""
        if not data:
            self.fail(f"{end} after {self.moved} of {self.size} bytes")
            return False
        if data != self.pattern.at(self.moved, len(data)):
            self.fail(f"wrong bytes at offset {self.moved}")
            return False
        self.moved += len(data)
        return True

    def fail(self, why):
        if self.error is None:
            self.error = why
        self.done.set()


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1])
    return 0


def watch(progress, pausers, pid, stall_s, rss_growth):
    """Runs until the direction is done or has failed: fails it on a stall
    or on memory growth after the first tenth."""
    last, last_change = progress.moved, time.monotonic()
    base = None
    peak = 0
    while not progress.done.wait(0.25):
        now = time.monotonic()
        if progress.moved != last or any(p.paused.is_set() for p in pausers):
            last, last_change = progress.moved, now
        elif now - last_change > stall_s:
            progress.fail(f"stalled at {progress.moved} of {progress.size} bytes for {stall_s} s")
            return base, peak
        rss = rss_kib(pid)
        if base is None and progress.moved >= progress.size // 10:
            base = rss
        if base is not None:
            peak = max(peak, rss)
            if rss - base > rss_growth:
                progress.fail(f"resident memory grew from {base} to {rss} KiB")
                return base, peak
    return base, peak


def run_direction(red, serve, progress, pausers, args, application):
    """One direction: `serve` as the far end, `application` on the opened
    port, and the watch beside them; what the watch found."""
    server = Listener(serve)
    red.point_at(server)
    fd = open_raw(red.path())
    result = []
    watcher = threading.Thread(target=lambda: result.append(watch(progress, pausers, red.pid(), args.stall,
                                                                  args.rss_growth)))
    watcher.start()
    try:
        application(fd)
    finally:
        progress.done.set()
        watcher.join()
        os.close(fd)
        server.close()
    return progress, result[0] if result else (None, 0)


def to_network(red, pattern, size, rnd, args):
    progress = Progress(pattern, size)
    app, far = Pauser(rnd, args.pause_ms), Pauser(random.Random(rnd.random()), args.pause_ms)

    def sink(c):
        try:
            while progress.moved < size:
                if not progress.take(c.recv(CHUNK), "the runtime closed"):
                    return
                far.maybe_pause()
            progress.done.set()
        except OSError as e:
            progress.fail(f"far end: {e}")
        finally:
            c.close()

    def application(fd):
        sent = 0
        while sent < size and not progress.done.is_set():
            n = min(size - sent, rnd.randint(1, CHUNK))
            _, w, _ = select.select([], [fd], [], 1.0)
            if w:
                sent += os.write(fd, pattern.at(sent, n))
            app.maybe_pause()
        progress.done.wait(args.stall * 4)

    return run_direction(red, sink, progress, (app, far), args, application)


def from_network(red, pattern, size, rnd, args):
    progress = Progress(pattern, size)
    app, far = Pauser(rnd, args.pause_ms), Pauser(random.Random(rnd.random()), args.pause_ms)
    far_rnd = random.Random(rnd.random())

    def source(c):
        sent = 0
        try:
            while sent < size:
                n = min(size - sent, far_rnd.randint(1, CHUNK))
                sent += c.send(pattern.at(sent, n))
                far.maybe_pause()
            # Stays open until the runtime closes, the way a device does.
            while c.recv(CHUNK):
                pass
        except OSError:
            pass
        finally:
            c.close()

    def application(fd):
        while progress.moved < size and not progress.done.is_set():
            r, _, _ = select.select([fd], [], [], 1.0)
            if not r:
                continue
            if not progress.take(os.read(fd, min(CHUNK, size - progress.moved)), "hang-up"):
                return
            app.maybe_pause()
        # Nothing may follow the last byte the far end sent.
        if progress.error is None:
            r, _, _ = select.select([fd], [], [], 0.2)
            if r and os.read(fd, CHUNK):
                progress.fail("bytes beyond what the far end sent")

    return run_direction(red, source, progress, (app, far), args, application)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(here, "..", "build"))
    ap.add_argument("--mib", type=int, default=1024)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--pause-ms", type=int, default=300)
    ap.add_argument("--stall", type=float, default=20.0)
    ap.add_argument("--rss-growth", type=int, default=2048)
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print(f"seed {seed} (--seed {seed} repeats this run)", flush=True)
    rnd = random.Random(seed)
    pattern = Pattern(seed)
    size = args.mib << 20
    failed = False
    with tempfile.TemporaryDirectory(prefix="kolm-soak-") as work:
        red = Redirector(os.path.join(args.build, "bin"), os.path.join(work, "root"))
        try:
            for name, run in (("application -> network", to_network), ("network -> application", from_network)):
                t = time.monotonic()
                progress, (base, peak) = run(red, pattern, size, rnd, args)
                took = time.monotonic() - t
                rss = f"resident {base} KiB after the first tenth, at most {peak} KiB" if base else "resident -"
                if progress.error:
                    failed = True
                    print(f"{name}: FAILED: {progress.error}", flush=True)
                else:
                    print(f"{name}: {size} bytes exact in {took:.1f} s ({size / took / 1e6:.1f} MB/s), {rss}",
                          flush=True)
        finally:
            red.stop()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
