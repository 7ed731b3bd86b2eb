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
#
# KOLM_DEMO_SERVICE=ipx switches the far end to an IPX service: devsim then
# advertises "DEMO" by SAP and echoes over SPX, and the port's first service
# becomes "IPX:00000000:00-00-00-00-00-01:DEMO" (found by a SAP broadcast);
# KOLM_DEMO_SERVICE=tcp sets it back to the TCP echo.
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

# The far end: an echo channel on TCP port 10000 + 1, or an SPX echo
# service found by SAP.
config='HKLM\SOFTWARE\Tarvizone\Redirector\1.0'
if [ "${KOLM_DEMO_SERVICE:-tcp}" = "ipx" ]; then
  far_args=(--spx --sap DEMO)
  "$bin/kolmreg" add "$config" /v Service0 /t REG_SZ /d "IPX:00000000:00-00-00-00-00-01:DEMO" /f >/dev/null
  far_text="devsim advertising DEMO by SAP, echoing over SPX"
else
  if [ "${KOLM_DEMO_SERVICE:-}" = "tcp" ]; then
    "$bin/kolmreg" add "$config" /v Service0 /t REG_SZ /d "IP:localhost:$((far_port - 10000))" /f >/dev/null
  fi
  far_args=(--tcp "$far_port,echo")
  far_text="devsim echoing on 127.0.0.1:$far_port"
fi
fifo="$(mktemp -u)"; mkfifo "$fifo"
"$bin/devsim" "${far_args[@]}" >"$fifo" &
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
echo "Far end: $far_text."

KOLM_UI="${KOLM_UI:-headless}" "$bin/kolm32" &
pids+=($!)
link="$KOLM_ROOT/dev/COM3"
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done
if [ -L "$link" ]; then
  cat <<MSG

The redirected port COM3 is ready: $link -> $(readlink -f "$link")
Try it from another terminal:
  picocom -b 9600 $link
  /usr/bin/python3 -c "import serial; s=serial.Serial('$link', timeout=2); s.write(b'hello'); print(s.read(5))"
Notices of the runtime are in $KOLM_ROOT/run/screen.log. Ctrl-C to stop.
MSG
else
  echo "kolm32 did not publish $link; see the messages above." >&2
fi
wait "${pids[1]}"
