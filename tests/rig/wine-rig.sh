#!/usr/bin/env bash
# The Windows test rig: an Xvfb display and a Wine prefix of our own under
# the build folder, started once per test run and stopped after it.
#
#   wine-rig.sh start RIG_DIR [win32]  start Xvfb on a free display, make the prefix
#   wine-rig.sh dpi RIG_DIR N        set the prefix's DPI (restarts wineserver)
#   wine-rig.sh scheme RIG_DIR S     set the colour scheme: normal or dark (restarts it too)
#   wine-rig.sh run RIG_DIR CMD...   run a command with the rig's environment
#   wine-rig.sh stop RIG_DIR         end wineserver and Xvfb, leave nothing running
#
# 64-bit programs are started with Wine's 64-bit loader itself, never with
# /usr/bin/wine: that script starts the 32-bit loader whenever wine32 is
# installed, even on a machine that cannot run 32-bit code at all. 32-bit
# ones run with /usr/lib/wine/wine, as on x64 Windows. Started `win32`, the
# prefix is 32-bit Windows (WINEARCH=win32: no Program Files (x86), 32-bit
# programs only), which wine64 refuses: the rig then runs everything with
# /usr/lib/wine/wine, and so must `run` (run RIG_DIR /usr/lib/wine/wine msiexec ...).
set -euo pipefail

command=${1:?command}
rig=${2:?rig folder}
mkdir -p "$rig"
rig=$(cd "$rig" && pwd)
envfile="$rig/env"

export WINEPREFIX="$rig/prefix"
made_as=$(cat "$rig/arch" 2>/dev/null || echo win64) arch=${3:-win64}  # the prefix's kind, kept
[[ $command == start ]] || arch=$made_as
case "$arch" in win64) wine=/usr/lib/wine/wine64 ;; win32) wine=/usr/lib/wine/wine ;; *) echo "wine-rig: win64 or win32, not $arch" >&2; exit 2 ;; esac
export WINEARCH=$arch
export WINELOADER=${WINELOADER:-$wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine links the prefix's Desktop, Documents and the like to the Linux
# user's own folders, and reads Linux file names in the locale's encoding.
# A home of the rig's own and a UTF-8 locale make every run alike, whatever
# the machine's user keeps at home or has set.
export HOME="$rig/home" LC_ALL=C.UTF-8
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_DESKTOP_DIR XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
mkdir -p "$HOME"

load_env() {
    [[ -f "$envfile" ]] || { echo "wine-rig: not started ($envfile missing)" >&2; exit 1; }
    # shellcheck disable=SC1090
    source "$envfile"
    export DISPLAY
}

free_display() {
    local n
    for n in $(seq 90 190); do
        if [[ ! -e "/tmp/.X11-unix/X$n" && ! -e "/tmp/.X$n-lock" ]]; then
            echo "$n"
            return
        fi
    done
    echo "wine-rig: no free X display" >&2
    exit 1
}

set_dpi() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    # Also the machine-wide value, which older Wine reads for the screen.
    "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -k || true
    wineserver -w || true
}

# The colours the program's window depends on, as "R G B" strings.
set_scheme() {
    local text window
    case "$1" in
    normal) text="0 0 0" window="255 255 255" ;;
    dark) text="255 255 255" window="0 0 0" ;;
    *) echo "wine-rig: unknown scheme $1" >&2; exit 2 ;;
    esac
    "$wine" reg add 'HKCU\Control Panel\Colors' /v WindowText /t REG_SZ /d "$text" /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Control Panel\Colors' /v Window /t REG_SZ /d "$window" /f >/dev/null 2>&1
    wineserver -k || true
    wineserver -w || true
}

case "$command" in
start)
    "$0" stop "$rig" >/dev/null 2>&1 || true
    display=$(free_display)
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$rig/xvfb.log" 2>&1 &
    echo "XVFB_PID=$!" >"$envfile"
    echo "DISPLAY=:$display" >>"$envfile"
    load_env
    for _ in $(seq 1 100); do
        [[ -e "/tmp/.X11-unix/X$display" ]] && break
        sleep 0.1
    done
    # Made again for the other kind, or when wine32 came after it (no 32-bit system libraries).
    if [[ $arch != "$made_as" ]] || { [[ $arch == win64 && ! -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]] &&
        /usr/lib/wine/wine --version >/dev/null 2>&1; }; then rm -rf "$WINEPREFIX"; fi
    echo "$arch" >"$rig/arch"
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        "$wine" wineboot -i >"$rig/wineboot.log" 2>&1 || { cat "$rig/wineboot.log" >&2; exit 1; }
        wineserver -w || true
    fi
    # Links are handed to a recorder rather than a real browser.
    "$wine" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ \
        /d "$rig/record-address.sh" /f >/dev/null 2>&1
    cat >"$rig/record-address.sh" <<REC
#!/bin/sh
printf '%s\n' "\$*" >>"$rig/opened-addresses.txt"
REC
    chmod +x "$rig/record-address.sh"
    set_scheme normal
    set_dpi 96
    echo 96 >"$rig/dpi"
    echo normal >"$rig/scheme"
    echo "wine-rig: display :$display, prefix $WINEPREFIX"
    ;;
dpi)
    load_env
    set_dpi "${3:?dpi}"
    ;;
scheme)
    load_env
    set_scheme "${3:?scheme}"
    ;;
run)
    load_env
    shift 2
    export TARNWICK_RIG="$rig"
    "$@"
    ;;
stop)
    if [[ -f "$envfile" ]]; then
        # shellcheck disable=SC1090
        source "$envfile"
        export DISPLAY
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        if [[ -n "${XVFB_PID:-}" ]]; then
            kill "$XVFB_PID" 2>/dev/null || true
            for _ in $(seq 1 50); do kill -0 "$XVFB_PID" 2>/dev/null || break; sleep 0.1; done
        fi
        rm -f "$envfile"
    fi
    ;;
*)
    echo "wine-rig: unknown command $command" >&2
    exit 2
    ;;
esac
