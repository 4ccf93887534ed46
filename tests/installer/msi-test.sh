#!/usr/bin/env bash
# The installer package under Wine's msiexec, on a rig and prefix of its own:
# first its rows, then each case's exit code and what it leaves behind.
#   msi-test.sh BUILD_DIR      (build/host)
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
rig=$build/rig-msi
rigsh=$top/tests/rig/wine-rig.sh
work=$build/msi-test
rm -rf "$rig/prefix" "$work" && mkdir -p "$work"
"$rigsh" start "$rig" >/dev/null || exit 1
trap '"$rigsh" stop "$rig"' EXIT

failed=0
check() { # check WHAT COMMAND...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=1; return 1; fi
}
rows() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }
has_rows() { # has_rows MSI TABLE ROW... (tab-separated, exactly)
    local msi=$1 table=$2 row; shift 2
    for row in "$@"; do rows "$msi" "$table" | grep -qxF -- "$(printf '%b' "$row")" || { echo "  no row: $row"; return 1; }; done
}
prop() { rows "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
revision() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }

# ---- the tables, which Wine cannot check: an upgrade there runs the old undo anyway ----
x64=$build/windows/tarnwick.msi x86=$build/windows-x86/tarnwick.msi
log_switch='/log "[WindowsFolder]Logs\tarnwick.log"' L=${log_switch//\\/\\\\}
for msi in "$x64" "$x86"; do
    a=$(basename "$(dirname "$msi")")
    check "$a: actions deferred, not impersonated; rollbacks run the package's copy" has_rows "$msi" CustomAction \
        "Patch\t3090\ttarnwick.exe\t/patch [FORCESWITCH] $L\t" "Undo\t3090\ttarnwick.exe\t/undo $L\t" \
        "PatchRollback\t3330\tRollbackExe\t/undo $L\t" "UndoRollback\t3330\tRollbackExe\t/patch [FORCESWITCH] $L\t" \
        "SetForceSwitch\t51\tFORCESWITCH\t/force\t"
    check "$a: every step at its number, rollbacks just before theirs" has_rows "$msi" InstallExecuteSequence \
        "AppSearch\t\t50" "SetForceSwitch\tFORCE=\"1\"\t51" "LaunchConditions\t\t100" "InstallInitialize\t\t1500" \
        "RemoveExistingProducts\t\t1501" "RemoveFiles\t\t3500" "InstallFiles\t\t4000" \
        "UndoRollback\tREMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND (MARKERFOUND OR (VersionNT64 AND X86MARKERFOUND))\t3498" \
        "Undo\tREMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE\t3499" \
        "PatchRollback\t(NOT Installed OR REINSTALL) AND NOT MARKERFOUND AND NOT (VersionNT64 AND X86MARKERFOUND)\t4001" \
        "Patch\tNOT Installed OR REINSTALL\t4002"
    check "$a: searches by the program's literal paths" has_rows "$msi" DrLocator \
        "DefaultProfile\t\tC:\\\\Program Files\\\\Mozilla Firefox\\\\defaults\\\\profile\t0" \
        "X86Marker\t\tC:\\\\Program Files (x86)\\\\Mozilla Firefox\\\\i386\t0"
    check "$a: launch conditions" eval 'rows "$msi" LaunchCondition | cut -f1 | sort | tr "\n" "|" |
        grep -qxF "Installed OR PROFILEFOUND OR (VersionNT64 AND X86PROFILEFOUND)|NOT WIX_DOWNGRADE_DETECTED|"'
    check "$a: per machine, FORCE secure, no modify or repair" eval '[[ $(prop "$msi" ALLUSERS) == 1 &&
        $(prop "$msi" SecureCustomProperties) == FORCE\;* &&
        $(prop "$msi" ARPNOMODIFY)$(prop "$msi" ARPNOREPAIR) == 11 && $(prop "$msi" ARPPRODUCTICON) == tarnwick.ico ]]'
done
check "x64 64-bit, x86 not; each its own Program Files" eval '[[ $(rows "$x64" Component | cut -f4) == 256 &&
    $(rows "$x86" Component | cut -f4) == 0 ]] && rows "$x64" Directory | grep -q "^ProgramFiles64Folder" &&
    rows "$x86" Directory | grep -q "^ProgramFilesFolder"'
check "ProductCodes differ by image, UpgradeCode does not" eval '[[ $(prop "$x64" ProductCode) != $(prop "$x86" ProductCode) &&
    $(prop "$x64" UpgradeCode) == $(prop "$x86" UpgradeCode) ]]'
builder=$top/installer/build-msi.sh exe=$build/windows/tarnwick.exe
"$builder" "$(prop "$x64" ProductVersion)" x64 "$exe" "$work/again.msi" && "$builder" 9.9.9 x64 "$exe" "$work/next.msi"
check "a rebuild makes the same codes; another version, new ones" eval '[[ $(prop "$work/again.msi" ProductCode) == $(prop "$x64" ProductCode) &&
    $(revision "$work/again.msi") == $(revision "$x64") && $(prop "$work/next.msi" ProductCode) != $(prop "$x64" ProductCode) &&
    $(revision "$work/next.msi") != $(revision "$x64") ]]'

# ---- the package under msiexec ----
c=$rig/prefix/drive_c fox="$rig/prefix/drive_c/Program Files/Mozilla Firefox"
log=$c/windows/logs/tarnwick.log
mkdir -p "$c/pkg" && cp "$x64" "$c/pkg/v1.msi" && "$builder" 1.0.1 x64 "$exe" "$c/pkg/v2.msi"
# The same package with a step after the patch that fails, as any later
# step of a real install can.
cp "$c/pkg/v1.msi" "$c/pkg/failing.msi"
msibuild "$c/pkg/failing.msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`)
    VALUES ('FailLater', 3090, 'tarnwick.exe', '/undo /force $log_switch')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailLater', 'NOT Installed', 4003)"
v2code=$(prop "$c/pkg/v2.msi" ProductCode)
wine() { "$rigsh" run "$rig" /usr/lib/wine/wine64 "$@" 2>/dev/null | tr -d '\r'; }
# msiexec's own code: the one Linux sees is cut to 8 bits.
msiexec() { wine cmd /c "start /wait msiexec $* /qn & echo %ERRORLEVEL%" | tail -n 1; }
listed() { wine uninstaller --list | grep -c 'Tarnwick'; }
mark=0
new_log() { # the lines added since the last call, in $lines
    local all; all=$(tr -d '\r' <"$log" 2>/dev/null)
    lines=$(tail -n +$((mark + 1)) <<<"$all" | grep -v '^$'); mark=$(grep -c '' <<<"$all")
}
browser() { # a stand-in browser: user.js given, firefox.exe of the given version
    rm -rf "$fox" && mkdir -p "$fox/defaults/profile"
    printf 'original\r\n' >"$fox/defaults/profile/user.js"
    cp "$build/windows/stand-ins/firefox-$1.exe" "$fox/firefox.exe"
}
state() { # what the browser's folder and Program Files hold
    local s=""
    [[ -d $fox/i386 ]] && s+=marker,
    cmp -s "$fox/defaults/profile/user.js" <(printf 'original\r\n') && s+=original,
    grep -qs pipelining "$fox/defaults/profile/user.js" && s+=payload,
    [[ -f $fox/defaults/user.js.tarnwick-original ]] && s+=kept,
    [[ -e "$c/Program Files/Tarnwick" ]] && s+=installed,
    echo "${s%,}"
}
expect() { # expect WHAT CODE STATE LISTED LOGLINE... (each a start of the next new line)
    local what=$1 code=$2 want=$3 count=$4; shift 4
    new_log
    check "$what: exit $code" [ "$got" = "$code" ] || echo "  got $got"
    check "$what: leaves $want" [ "$(state)" = "$want" ] || echo "  left $(state)"
    check "$what: listed $count" [ "$(listed)" = "$count" ]
    local i=0 line
    for line in "$@"; do
        i=$((i + 1))
        check "$what: logged '$line'" eval 'sed -n "${i}p" <<<"$lines" | grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} exit $line"' || echo "$lines"
    done
    check "$what: logged no more" [ "$(grep -c . <<<"$lines")" -eq $i ]
}

got=$(msiexec /i 'C:\pkg\v1.msi')
check "no browser: exit 1603" [ "$got" = 1603 ] || echo "  got $got"
check "no browser: nothing installed" [ "$(state)$(listed)" = 0 ]

browser 133.0.3
got=$(msiexec /i 'C:\pkg\v1.msi')
expect "too new a browser, no FORCE" 1627 original 0 "4: Not patched: Firefox 133.0.3" "0: Not patched"
got=$(msiexec /i 'C:\pkg\v1.msi' FORCE=1)
expect "install with FORCE" 0 marker,payload,kept,installed 1 "0: Patched: C:"
got=$(msiexec /i 'C:\pkg\v2.msi')
expect "upgrade, FORCE remembered" 0 marker,payload,kept,installed 1 "0: Undone" "0: Patched: C:"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
check "upgrade: the old version is gone, the new one there" eval '! wine reg query "$uninstall_key\\$(prop "$x64" ProductCode)" >/dev/null &&
    wine reg query "$uninstall_key\\$v2code" >/dev/null'
got=$(msiexec /x "$v2code")
expect "uninstall" 0 original 0 "0: Undone"
check "uninstall: nothing left in the registry" eval '! wine reg query "HKLM\\Software\\Tarnwick" >/dev/null'

browser 45.0.2
got=$(msiexec /i 'C:\pkg\failing.msi')
expect "a failure after the patch" 1627 original 0 "0: Patched: C:" "2: /folder and /force" "0: Undone"
cp "$exe" "$c/pkg/tarnwick.exe" && wine 'C:\pkg\tarnwick.exe' /patch >/dev/null; new_log
got=$(msiexec /i 'C:\pkg\failing.msi')
expect "a failure over a tweak already there" 1627 marker,payload,kept 0 "0: Already patched" "2: /folder and /force"

# Wine logs no launch condition's message: it only shows it in a box, so
# the box is read from Wine's trace, and the prefix ended once it is there.
rm -rf "$fox"
"$rigsh" run "$rig" env WINEDEBUG=+msgbox /usr/lib/wine/wine64 msiexec /i 'C:\pkg\v1.msi' /qb >"$work/box.txt" 2>&1 &
for _ in $(seq 1 60); do grep -q 'MSGBOX_OnInit' "$work/box.txt" && break; sleep 0.5; done
check "no browser: the launch condition's message" grep -q 'MSGBOX_OnInit L"Tarnwick finds no browser' "$work/box.txt"
"$rigsh" run "$rig" wineserver -k; wait
check "no browser: nothing logged" [ -z "$(new_log; echo "$lines")" ]

exit $failed
