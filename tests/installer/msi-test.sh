#!/usr/bin/env bash
# The package's rows, then under Wine's msiexec (own rig and prefix) each case's exit code, what it leaves and logs.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd) build=$(cd "${1:?build folder}" && pwd)
rigsh=$top/tests/rig/wine-rig.sh make_msi=$top/installer/build-msi.sh exe=$build/windows/tarnwick.exe
x86_runs=${2:?ON where the 32-bit image is run, else OFF}  # CMake's decision: TARNWICK_X86_RUN, and whether the loader runs
# A rig and a fresh prefix of its own, run by its own loader; started win32, it is 32-bit Windows.
on_rig() { rig=$build/$1 loader=/usr/lib/wine/$2 c=$build/$1/prefix/drive_c fox="$c/Program Files/Mozilla Firefox" log=$c/windows/logs/tarnwick.log seen=0
    rm -rf "$rig/prefix" && "$rigsh" start "$rig" "${3-}" >/dev/null; }
on_rig rig-msi wine64 || exit 1
trap '"$rigsh" stop "$rig"' EXIT; failed=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
rows() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r' | sed 's/\t*$//'; }
prop() { rows "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
# What Wine cannot show (it rolls back no uninstall, and runs the old undo on an upgrade) is in the rows.
L='/log "[WindowsFolder]Logs\tarnwick.log"' x64=$build/windows/tarnwick.msi x86=$build/windows-x86/tarnwick.msi
while IFS=$'\t' read -r table row; do for msi in "$x64" "$x86"; do
    check "$table row in ${msi#$build/}: ${row//$'\t'/ | }" 'rows "$msi" $table | grep -qxF -- "$row"'; done; done <<ROWS
CustomAction	Patch	3074	TarnwickExe	/patch [ForceSwitch] $L
CustomAction	Undo	3074	TarnwickExe	/undo $L
CustomAction	PatchRollback	3330	TarnwickExe	/undo $L
CustomAction	UndoRollbackDefault	3330	TarnwickExe	/patch /force /only default $L
CustomAction	UndoRollbackX86	3330	TarnwickExe	/patch /force /only x86 $L
InstallExecuteSequence	RemoveExistingProducts		1501
InstallExecuteSequence	UndoRollbackDefault	REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE AND MARKERFOUND	3497
InstallExecuteSequence	UndoRollbackX86	REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE AND X86MARKERFOUND AND NATIVEARCH <> "x86"	3498
InstallExecuteSequence	Undo	REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE	3499
InstallExecuteSequence	PatchRollback	(NOT Installed OR REINSTALL) AND NOT MARKERFOUND AND NOT (X86MARKERFOUND AND NATIVEARCH <> "x86")	4001
InstallExecuteSequence	Patch	NOT Installed OR REINSTALL	4002
LaunchCondition	Installed OR (ALLUSERS = 1 AND Privileged)	Tarnwick installs for the whole machine only: run it with ALLUSERS=1 as an administrator.
LaunchCondition	Installed OR PROFILEFOUND OR (X86PROFILEFOUND AND NATIVEARCH <> "x86")	Tarnwick finds no browser to apply its tweak to: there is no C:\Program Files\Mozilla Firefox\defaults\profile and no C:\Program Files (x86)\Mozilla Firefox\defaults\profile. Install Firefox first.
DrLocator	X86Profile		C:\Program Files (x86)\Mozilla Firefox\defaults\profile	0
RegLocator	StoredForce32	2	Software\Tarnwick	Force	2
Property	SecureCustomProperties	WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED
ROWS
row() { local msi=$1 table=$2 row=$3; check "$table row in ${msi#$build/}: ${row//$'\t'/ | }" 'rows "$msi" $table | grep -qxF -- "$row"'; }
row "$x64" LaunchCondition $'Installed OR NATIVEARCH = "AMD64"\tThis is Tarnwick\'s package for x64 Windows. On 32-bit Windows and on Windows on ARM, install its x86 package.'
row "$x64" LaunchCondition $'NOT WIX_DOWNGRADE_DETECTED OR NOT (NATIVEARCH = "AMD64")\tA newer version of Tarnwick is already installed.'
row "$x86" LaunchCondition $'Installed OR NATIVEARCH <> "AMD64"\tThis is Tarnwick\'s package for 32-bit Windows and Windows on ARM. On x64 Windows, install its x64 package.'
comp() { rows "$1" "$2" | cut -f"$3" | tr '\t\n' ':,'; }; check "x64 64-bit, x86 not; FORCE's value transitive, kept where FORCE = 1" '[[ $(comp "$x64" Component 4,5)$(comp "$x86" Component 4,5) == "256:,324:FORCE = \"1\",0:,68:FORCE = \"1\"," ]]'
check "the exe's version and language, from its version block" '[[ $(comp "$x64" File 5,6)$(comp "$x86" File 5,6) == "$(prop "$x64" ProductVersion).0:1033,$(prop "$x86" ProductVersion).0:1033," ]]'
mkdir -p "$c/pkg" && "$make_msi" 1.0.0 x64 "$exe" "$c/pkg/again.msi" && "$make_msi" 1.0.1 x64 "$exe" "$c/pkg/v2.msi"
code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; prop "$1" ProductCode; }; check "codes: the same on a rebuild, new for another version or image" '[[ $(code "$c/pkg/again.msi") == $(code "$x64") &&
    $(code "$c/pkg/v2.msi" | sort -u) != *"$(code "$x64" | sort -u)"* && $(prop "$x86" ProductCode) != $(prop "$x64" ProductCode) ]]'
# A step after the patch that fails, as any later step can.
cp "$x64" "$c/pkg/v1.msi" && cp "$x86" "$c/pkg/x86.msi" && cp "$exe" "$c/pkg/tarnwick.exe" && cp "$x64" "$c/pkg/failing.msi" && cp "$x86" "$c/pkg/x86-failing.msi" && for msi in failing x86-failing; do msibuild "$c/pkg/$msi.msi" \
    -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailLater', 3090, 'tarnwick.exe', '/undo /force $L')" \
    -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('FailLater', 'NOT Installed', 4003)"; done
wine() { "$rigsh" run "$rig" "$loader" "$@" 2>/dev/null | tr -d '\r'; }
browser() { rm -rf "$fox" && mkdir -p "$fox/defaults/profile" && printf 'original\r\n' >"$fox/defaults/profile/user.js" && cp "$build/windows/stand-ins/firefox-$1.exe" "$fox/firefox.exe"; }
case_() { # case_ NAME 'MSIEXEC ARGUMENTS' EXIT 'LEFT' LISTED 'LOGGED': each log line as "exit first-word", or the refusal
    local got left="" logged want="$3|$4${4:+,}listed$5|$6"  # `stage` runs first, in the same session
    got=$("$rigsh" run "$rig" env WINEDEBUG=+msi "$loader" cmd /c "${stage-}start /wait msiexec $2 /qn & echo %ERRORLEVEL%" 2>"$c/pkg/trace" | tr -d '\r' | tail -n 1)
    [[ -d $fox/i386 ]] && left+=marker,; cmp -s "$fox/defaults/profile/user.js" <(printf 'original\r\n') && left+=original,
    grep -qs pipelining "$fox/defaults/profile/user.js" && left+=payload,; [[ -f $fox/defaults/user.js.tarnwick-original ]] && left+=kept,
    [[ -e "$c/Program Files/Tarnwick" || -e "$c/Program Files (x86)/Tarnwick" ]] && left+=installed,; left+=listed$(wine uninstaller --list | grep -c Tarnwick)
    logged=$(tr -d '\r' 2>/dev/null <"$log" | tail -n +$((seen + 1)) | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} exit ([0-9]+): ([^ ]+).*/\1 \2/' | paste -sd,)
    logged+=$(awk '/EvaluateConditionW 0 <- /{ c = $0 } /halted, action L"LaunchConditions"/{ print c }' "$c/pkg/trace" | sed 's/.* <- L"/refused /; s/"$//; s/\\"/"/g')
    seen=$(grep -c '' "$log" 2>/dev/null)
    check "$1: exit $3, left $4,listed$5, logged '$6'" '[[ "$got|$left|$logged" == "$want" ]] || ! echo "  got $got|$left|$logged"'
}
case_ "no browser" '/i C:\pkg\v1.msi' 1603 '' 0 'refused Installed OR PROFILEFOUND OR (X86PROFILEFOUND AND NATIVEARCH <> "x86")'
browser 133.0.3
case_ "per user" '/i C:\pkg\v1.msi ALLUSERS=""' 1603 original 0 'refused Installed OR (ALLUSERS = 1 AND Privileged)'
case_ "the x86 package on x64 Windows" '/i C:\pkg\x86.msi' 1603 original 0 'refused Installed OR NATIVEARCH <> "AMD64"'
case_ "FORCE=yes" '/i C:\pkg\v1.msi FORCE=yes' 1603 original 0 'refused NOT FORCE OR FORCE = "0" OR FORCE = "1"'
case_ "a browser too new, no FORCE" '/i C:\pkg\v1.msi' 1627 original 0 '4 Not,0 Not'
case_ "install with FORCE" '/i C:\pkg\v1.msi FORCE=1' 0 marker,payload,kept,installed 1 '0 Patched:'
case_ "upgrade, FORCE kept" '/i C:\pkg\v2.msi' 0 marker,payload,kept,installed 1 '0 Undone:,0 Patched:'
v2=$(prop "$c/pkg/v2.msi" ProductCode) && wine 'C:\pkg\tarnwick.exe' /undo >/dev/null  # by hand; Wine rolls back no repair
case_ "the README's FORCE=0, the tweak taken out by hand" "/i $v2 REINSTALL=ALL REINSTALLMODE=omus FORCE=0" 1627 original,installed 1 '4 Not'
wine 'C:\pkg\tarnwick.exe' /patch /force >/dev/null && rm "$c/Program Files/Tarnwick/tarnwick.exe"
case_ "uninstall, the installed exe deleted" "/x $v2" 0 original 0 '0 Undone:'
check "uninstall: no registry left" '! wine reg query "HKLM\\Software\\Tarnwick" >/dev/null'
browser 45.0.2
case_ "a failure after the patch" '/i C:\pkg\failing.msi' 1627 original 0 '0 Patched:,2 /folder,0 Undone:'
wine 'C:\pkg\tarnwick.exe' /patch >/dev/null && seen=$(grep -c '' "$log")
case_ "a failure over a tweak already there" '/i C:\pkg\failing.msi' 1627 marker,payload,kept 0 '0 Already,2 /folder'
# Wine logs no launch condition's message: it shows it in a box, read here from its trace.
rm -rf "$fox" && "$rigsh" run "$rig" env WINEDEBUG=+msgbox "$loader" msiexec /i 'C:\pkg\v1.msi' /qb >"$c/pkg/box" 2>&1 &
for _ in $(seq 1 60); do grep -qs MSGBOX_OnInit "$c/pkg/box" && break; sleep 0.5; done
check "no browser: the launch condition's message" 'grep -q "MSGBOX_OnInit L\"Tarnwick finds no browser" "$c/pkg/box"'
"$rigsh" run "$rig" wineserver -k; wait
# Windows on ARM by its registry value, set in each case's own session (Wine's boot writes its own).
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"PROCESSOR_ARCHITECTURE"="ARM64"\n' >"$c/pkg/arm.reg" && stage='reg import C:\pkg\arm.reg >nul & ' && browser 45.0.2
case_ "Windows on ARM: the x64 package" '/i C:\pkg\v1.msi' 1603 original 0 'refused Installed OR NATIVEARCH = "AMD64"'
if [[ $x86_runs == ON ]]; then case_ "Windows on ARM: the x86 package" '/i C:\pkg\x86.msi' 0 marker,payload,kept,installed 1 '0 Patched:'
    # 32-bit Windows: the x86 package's whole cycle. Its own installer refuses the x64 package by its platform, before our message.
    "$rigsh" stop "$rig"; pkg=$c/pkg stage= && on_rig rig-msi-win32 wine win32 && cp -r "$pkg" "$c/" && "$make_msi" 1.0.1 x86 "$build/windows-x86/tarnwick.exe" "$c/pkg/x86-v2.msi" || exit 1
    mkdir -p "$c/Program Files (x86)/Mozilla Firefox/defaults/profile" "$c/Program Files (x86)/Mozilla Firefox/i386"  # anyone's folders here: no browser, no tweak
    case_ "32-bit Windows: no browser" '/i C:\pkg\x86.msi' 1603 '' 0 'refused Installed OR PROFILEFOUND OR (X86PROFILEFOUND AND NATIVEARCH <> "x86")'
    browser 45.0.2
    case_ "32-bit Windows: a failure after the patch" '/i C:\pkg\x86-failing.msi' 1627 original 0 '0 Patched:,2 /folder,0 Undone:'
    case_ "32-bit Windows: install" '/i C:\pkg\x86.msi' 0 marker,payload,kept,installed 1 '0 Patched:'
    case_ "32-bit Windows: the x64 package" '/i C:\pkg\v1.msi' 1633 marker,payload,kept,installed 1 ''
    case_ "32-bit Windows: upgrade" '/i C:\pkg\x86-v2.msi' 0 marker,payload,kept,installed 1 '0 Undone:,0 Patched:'
    case_ "32-bit Windows: uninstall" "/x $(prop "$c/pkg/x86-v2.msi" ProductCode)" 0 original 0 '0 Undone:'
else echo "skip the x86 package on Windows on ARM and on 32-bit Windows (the 32-bit image is not run here)"; fi
exit $failed
