# Shared by scripts/test and scripts/run: packages, builds, Wine prefix, display, wineserver.
# Sourced, not run. Expects ROOT to be the repository's top folder.

NV_PACKAGES="cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 xvfb xauth socat googletest python3
 x11-apps x11-utils imagemagick procps util-linux ser2net"
NV_WINE=/usr/lib/wine/wine64
NV_WINESERVER=/usr/lib/wine/wineserver

nv_log() { printf '== %s\n' "$*" >&2; }
nv_die() { printf 'error: %s\n' "$*" >&2; exit 1; }

nv_install_missing() {
  local missing=() p
  for p in $NV_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || nv_die "missing packages (${missing[*]}); run as root or install them"
  nv_log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || nv_die "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 || nv_die "apt-get install failed"
}

# nv_build <x64|x86> [targets...]
nv_build() {
  local arch=$1; shift
  local tc=x86_64 tests=ON
  [ "$arch" = x86 ] && { tc=i686; tests=OFF; }
  local dir="$ROOT/build/$arch"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$tc.cmake" \
      -DNORVANE_TESTS=$tests >/dev/null || nv_die "configure of $arch failed"
  fi
  local t=()
  for x in "$@"; do t+=(--target "$x"); done
  cmake --build "$dir" --parallel "$(nproc)" "${t[@]}" || nv_die "build of $arch failed"
}

# Wine for the x64 build: a private prefix (the tests' one unless another is given).
nv_wine_env() {
  export WINEPREFIX="${1:-$ROOT/build/x64/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  "$ROOT/cmake/wine-prefix.sh" "$WINEPREFIX" || nv_die "could not create the Wine prefix"
}

# The run's own display: Xvfb picks a free number and tells it (-displayfd), so that two runs, or
# a run and scripts/run, never share a display or end each other's. Its parent is a watcher that
# notes when it ends before nv_stop_all ends it (nv_display_lost) and then ends what the process
# given to nv_display_on_loss runs, so that a run stops at once instead of failing test after test.
NV_DISPLAY_DIR=
NV_DISPLAY_WATCHER=
nv_start_display() {
  NV_DISPLAY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/nv-display.XXXXXX") || nv_die "cannot make a folder for the display"
  local dir=$NV_DISPLAY_DIR n=
  mkfifo "$dir/number" || nv_die "cannot make $dir/number"
  (
    Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$dir/number" </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/pid"
    wait $!
    echo "exit $? at $(date +%T)" >"$dir/ended"
    if [ ! -e "$dir/stopping" ] && [ -s "$dir/on-loss" ]; then
      for child in $(ps -o pid= --ppid "$(cat "$dir/on-loss")"); do
        [ "$child" = "$BASHPID" ] || nv_kill_tree "$child"
      done
    fi
  ) &
  NV_DISPLAY_WATCHER=$!
  read -r n <"$dir/number"
  case "$n" in '' | *[!0-9]*) nv_die "Xvfb did not start (see $dir/xvfb.log)" ;; esac
  export DISPLAY=":$n"
}

# The process and its descendants, children first found, all ended.
nv_kill_tree() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do nv_kill_tree "$child"; done
  kill -TERM "$1" 2>/dev/null
}

nv_display_on_loss() { [ -n "$NV_DISPLAY_DIR" ] && echo "$1" >"$NV_DISPLAY_DIR/on-loss"; }

# True when the display ended by itself; says how and when.
nv_display_lost() {
  [ -n "$NV_DISPLAY_DIR" ] && [ -e "$NV_DISPLAY_DIR/ended" ] && [ ! -e "$NV_DISPLAY_DIR/stopping" ] || return 1
  echo "Xvfb of $DISPLAY ended ($(cat "$NV_DISPLAY_DIR/ended"))"
}

nv_stop_display() {
  [ -n "$NV_DISPLAY_DIR" ] || return 0
  : >"$NV_DISPLAY_DIR/stopping"
  [ -s "$NV_DISPLAY_DIR/pid" ] && kill "$(cat "$NV_DISPLAY_DIR/pid")" >/dev/null 2>&1
  wait "$NV_DISPLAY_WATCHER" 2>/dev/null
  rm -rf "$NV_DISPLAY_DIR"
  NV_DISPLAY_DIR= NV_DISPLAY_WATCHER=
}

nv_start_wineserver() {
  setsid "$NV_WINESERVER" -p </dev/null >/dev/null 2>&1 &
  "$NV_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Wine closes its default desktop a second after the last process with windows ends, and a
# program starting in that moment dies or cannot make a window. A holder with a hidden window keeps
# the desktop for the whole run; the wineserver's end ends it.
nv_hold_desktop() {
  local exe="$ROOT/build/x64/tools/deskhold.exe" fifo line=
  [ -f "$exe" ] || nv_die "no $exe: build x64 first"
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/nv-deskhold.XXXXXX") && mkfifo "$fifo" || nv_die "cannot make a pipe for the desktop holder"
  setsid "$NV_WINE" "$exe" </dev/null >"$fifo" 2>/dev/null &
  read -r -t 60 line <"$fifo"
  rm -f "$fifo"
  [ "${line%$'\r'}" = ready ] || nv_die "the desktop holder did not start${line:+ ($line)}"
}

nv_stop_all() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$NV_WINESERVER" -k >/dev/null 2>&1
    "$NV_WINESERVER" -w >/dev/null 2>&1
  fi
  nv_stop_display
  return 0
}
