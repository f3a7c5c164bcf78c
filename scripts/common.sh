# Shared by scripts/test and scripts/run: packages, builds, Wine prefix, display, wineserver.
# Sourced, not run. Expects ROOT to be the repository's top folder.

NV_PACKAGES="cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 xvfb xauth socat googletest python3
 x11-apps x11-utils imagemagick procps util-linux"
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

NV_STARTED_XVFB=
nv_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    NV_STARTED_XVFB=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0; sleep 0.1; done
    nv_die "Xvfb did not start on $DISPLAY"
  done
  nv_die "no free X display number"
}

nv_start_wineserver() {
  setsid "$NV_WINESERVER" -p </dev/null >/dev/null 2>&1 &
  "$NV_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

nv_stop_all() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$NV_WINESERVER" -k >/dev/null 2>&1
    "$NV_WINESERVER" -w >/dev/null 2>&1
  fi
  if [ -n "$NV_STARTED_XVFB" ]; then
    kill "$NV_STARTED_XVFB" >/dev/null 2>&1
    wait "$NV_STARTED_XVFB" 2>/dev/null
    NV_STARTED_XVFB=
  fi
  return 0
}
