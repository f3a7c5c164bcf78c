#!/usr/bin/env bash
# Creates a private Wine prefix once (serialised by a lock, so parallel tests can race to it).
set -u
prefix="$1"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.norvane-ready" ] && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
WINE=/usr/lib/wine/wine64
"$WINE" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed for $prefix" >&2; exit 1; }
# A crashing test must not wait in winedbg.
"$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f </dev/null >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f </dev/null >/dev/null 2>&1
# No window manager under Xvfb: unmanaged windows close without a 2 s wait.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
/usr/lib/wine/wineserver -w
touch "$prefix/.norvane-ready"
