#!/usr/bin/env bash
# Machine services the tests need: pseudo-terminal pairs (socat, kept by a small supervisor
# that can unplug and replug a pair on request) mapped as COM ports of the build's Wine prefix.
#
#   tools/test-services.sh start <build-dir>   (re)creates the pairs and the mapping
#   tools/test-services.sh stop  <build-dir>   removes the pairs
#
# Pair N joins COM(11+2N) and COM(12+2N); COM19 leads to a folder, which the system refuses
# to open as a device (access denied, as a port held by another program is refused).
# <build-dir>/ptys/pairs.txt tells the tests which pairs exist and where the supervisor
# listens; it is written last, once everything works.
# Quiet on success; errors go to stderr.
set -u
PAIRS=4
FIRST_COM=11
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

die() { echo "test-services: $*" >&2; exit 1; }

[ $# -eq 2 ] || die "usage: $0 start|stop <build-dir>"
cmd=$1
[ -d "$2" ] || die "no build folder $2"
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
dir=$build/ptys

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

stop_pairs() {
  rm -f "$dir/pairs.txt"
  if [ -f "$dir/supervisor.pid" ]; then
    local pid
    pid=$(cat "$dir/supervisor.pid")
    if kill "$pid" 2>/dev/null; then
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
      kill -9 "$pid" 2>/dev/null
    fi
    rm -f "$dir/supervisor.pid"
  fi
  rm -f "$dir/control.port" "$dir"/pair*-a "$dir"/pair*-b
}

denied_com() { echo "COM$((FIRST_COM + 2 * PAIRS))"; }

start_pairs() {
  command -v socat >/dev/null || die "socat is not installed"
  command -v python3 >/dev/null || die "python3 is not installed"
  stop_pairs
  mkdir -p "$dir" "$dir/denied"
  : >"$dir/supervisor.log"
  setsid python3 "$here/serial-pairs/supervisor.py" --dir "$dir" --pairs $PAIRS \
    </dev/null >/dev/null 2>>"$dir/supervisor.log" &
  echo $! >"$dir/supervisor.pid"
  for _ in $(seq 200); do [ -s "$dir/control.port" ] && break; sleep 0.05; done
  [ -s "$dir/control.port" ] || die "pair supervisor did not start (see $dir/supervisor.log)"

  "$root/cmake/wine-prefix.sh" "$WINEPREFIX" || die "no Wine prefix"
  local reg="$dir/ports.reg" i
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for i in $(seq 0 $((PAIRS - 1))); do
      printf '"COM%d"="%s"\r\n' $((FIRST_COM + 2 * i)) "$dir/pair$i-a"
      printf '"COM%d"="%s"\r\n' $((FIRST_COM + 2 * i + 1)) "$dir/pair$i-b"
    done
    printf '"%s"="%s"\r\n' "$(denied_com)" "$dir/denied"
  } >"$reg"
  "$WINE" reg import "$(printf 'Z:%s' "$reg" | tr / '\\')" </dev/null >/dev/null 2>&1 \
    || die "could not map the COM ports in $WINEPREFIX"
  # The port mapping is read when the server starts: restart it (persistent, as the test
  # scripts expect) and warm it up.
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  (setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &)
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1

  {
    echo "control $(cat "$dir/control.port")"
    for i in $(seq 0 $((PAIRS - 1))); do
      echo "pair $i COM$((FIRST_COM + 2 * i)) COM$((FIRST_COM + 2 * i + 1))"
    done
    echo "denied $(denied_com)"
  } >"$dir/pairs.tmp"
  mv "$dir/pairs.tmp" "$dir/pairs.txt"
}

case "$cmd" in
  start) start_pairs ;;
  stop) stop_pairs ;;
  *) die "unknown command $cmd" ;;
esac
