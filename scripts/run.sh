#!/usr/bin/env bash
# Builds the project, then runs the main job: the redirector runtime with a
# simulated serial device server as the far end.
#
# The machine root is $KOLM_ROOT (default ~/.local/share/tarvizone). On a
# root without a redirected port the product is installed the way a user
# would: `install` in script mode, with a script that names the far end
# ("IP:localhost:1", i.e. TCP port 10001 on this machine, where devsim
# answers as an echo server). The installer registers a free COM port next
# to the host's own serial ports and starts the setup program, which copies
# the programs to C:\Program Files\Tarvizone\Redirector in the root and
# stores the service list. A root that has its port is used as it is.
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
"$here/scripts/build.sh" product kolmreg kolmwin devsim
bin="${KOLM_BUILD_DIR:-$here/build}/bin"
export KOLM_ROOT="${KOLM_ROOT:-$HOME/.local/share/tarvizone}"
far_port="${KOLM_DEMO_PORT:-10001}"
installed="$KOLM_ROOT/drive_c/Program Files/Tarvizone/Redirector"

# The COM name of the redirected port: the first port entry whose maker is
# "Tarvizone", as the runtime looks for it.
port_name() {
  "$bin/kolmreg" query 'HKLM\Enum\Root\Ports' /s 2>/dev/null | awk '
    /^HKEY/ { mfg = ""; name = "" }
    $1 == "Mfg" { mfg = $3 }
    $1 == "PORTNAME" { name = $3 }
    mfg == "Tarvizone" && name != "" { print name; exit }'
}

if [ -z "$(port_name)" ]; then
  script="$(mktemp)"
  if [ "${KOLM_DEMO_SERVICE:-tcp}" = "ipx" ]; then service="ipx:DEMO"; else service="ip:localhost:$((far_port - 10000))"; fi
  printf 'path=C:\\Program Files\\Tarvizone\\Redirector\nsv1=%s\n' "$service" >"$script"
  echo "Machine root $KOLM_ROOT has no redirected port: installing (install with sv1=$service)."
  setup_log="$KOLM_ROOT/drive_c/WINDOWS/kolmvx.log"
  rm -f "$setup_log"
  status=0
  KOLM_UI=headless "$bin/install" "$script" || status=$?
  rm -f "$script"
  if [ "$status" -ne 0 ]; then
    echo "install failed (exit $status); its messages are above and in $KOLM_ROOT/run/screen.log." >&2
    exit 1
  fi
  # The setup program runs on after the installer; wait for its log.
  for _ in $(seq 100); do grep -q "ResultCode=" "$setup_log" 2>/dev/null && break; sleep 0.1; done
  if ! grep -q "ResultCode=0" "$setup_log" 2>/dev/null; then
    echo "The setup program did not finish the installation; see $setup_log." >&2
    exit 1
  fi
fi
port="$(port_name)"
kolm32="$bin/kolm32"
kolmset32="$bin/kolmset32"
[ -x "$installed/kolm32" ] && kolm32="$installed/kolm32"
[ -x "$installed/kolmset32" ] && kolmset32="$installed/kolmset32"

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

KOLM_UI="${KOLM_UI:-headless}" "$kolm32" &
pids+=($!)
link="$KOLM_ROOT/dev/$port"
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done
if [ -L "$link" ]; then
  cat <<MSG

The redirected port $port is ready: $link -> $(readlink -f "$link")
(the runtime is $kolm32)
Try it from another terminal:
  picocom -b 9600 $link
  /usr/bin/python3 -c "import serial; s=serial.Serial('$link', timeout=2); s.write(b'hello'); print(s.read(5))"
Notices of the runtime are in $KOLM_ROOT/run/screen.log. Ctrl-C to stop.
The setup utility shows the runtime's state and edits the service list:
  KOLM_ROOT=$KOLM_ROOT "$kolmset32"
MSG
else
  echo "kolm32 did not publish $link; see the messages above." >&2
fi
wait "${pids[1]}"
