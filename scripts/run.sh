#!/usr/bin/env bash
# Builds the project, then runs the main job: the redirector runtime with a
# simulated serial device server as the far end.
#
# The machine root is $KOLM_ROOT (default ~/.local/share/tarvizone). A new
# root gets the default machine: one redirected port, COM3, whose first
# service is "IP:localhost:1", i.e. TCP port 10001 on this machine, where
# devsim answers as an echo server. An existing root is used as it is.
#
# Open the printed path with any serial program (picocom, Python's serial
# module); what you write comes back from the far end. Ctrl-C ends it all.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/build.sh" kolm32 kolmreg kolmwin devsim
bin="${KOLM_BUILD_DIR:-$here/build}/bin"
export KOLM_ROOT="${KOLM_ROOT:-$HOME/.local/share/tarvizone}"
far_port="${KOLM_DEMO_PORT:-10001}"

if [ ! -f "$KOLM_ROOT/registry.db" ]; then
  echo "New machine root $KOLM_ROOT: importing the default machine (COM3 -> IP:localhost:1)."
  "$bin/kolmreg" import "$here/share/default-machine.reg"
fi

pids=()
cleanup() {
  trap - INT TERM EXIT
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup INT TERM EXIT

# The far end: an echo channel on TCP port 10000 + 1.
fifo="$(mktemp -u)"; mkfifo "$fifo"
"$bin/devsim" --tcp "$far_port,echo" >"$fifo" &
pids+=($!)
exec 3<"$fifo"
rm -f "$fifo"
ready=""
while read -r line <&3; do
  [ "$line" = "ready" ] && { ready=1; break; }
done
exec 3<&-
if [ -z "$ready" ]; then
  echo "devsim could not start on TCP port $far_port (is it in use? set KOLM_DEMO_PORT)." >&2
  exit 1
fi
echo "Far end: devsim echoing on 127.0.0.1:$far_port."

KOLM_UI="${KOLM_UI:-headless}" "$bin/kolm32" &
pids+=($!)
link="$KOLM_ROOT/dev/COM3"
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done
if [ -L "$link" ]; then
  cat <<MSG

The redirected port COM3 is ready: $link -> $(readlink "$link")
Try it from another terminal:
  picocom -b 9600 $link
  python3 -c "import serial; s=serial.Serial('$link', timeout=2); s.write(b'hello'); print(s.read(5))"
Notices of the runtime are in $KOLM_ROOT/run/screen.log. Ctrl-C to stop.
MSG
else
  echo "kolm32 did not publish $link; see the messages above." >&2
fi
wait "${pids[1]}"
