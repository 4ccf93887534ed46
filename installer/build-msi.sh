#!/usr/bin/env bash
# Builds the package for one image of the program:
#
#   build-msi.sh VERSION ARCH EXE OUT.msi      ARCH: x64 or x86
#
# wixl writes most of it from tarnwick.wxs; msibuild then writes what wixl
# 0.101 cannot: the folder searches (it has no DirectorySearch), the rollback
# actions (it writes them as immediate ones, and runs no exe from the Binary
# table), FORCE among the secure properties (it ignores Secure), and a
# package code made from the content (it ignores the Package's Id).
set -euo pipefail
version=${1:?version} arch=${2:?arch} exe=${3:?exe} out=${4:?output msi}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
icon=$here/../resources/tarnwick.ico

# The same GUID for the same words, another for any others (a name-based
# UUID, version 5 form), so that a rebuild makes the same product.
guid() {
    local h
    h=$(printf 'tarnwick-installer:%s' "$1" | sha1sum | tr a-f A-F)
    printf '{%s-%s-5%s-%X%s-%s}' "${h:0:8}" "${h:8:4}" "${h:13:3}" $(((0x${h:16:1} & 3) | 8)) \
        "${h:17:3}" "${h:20:12}"
}

case "$arch" in
x64) win64=yes folder=ProgramFiles64Folder template="x64;1033" ;;
x86) win64=no folder=ProgramFilesFolder template="Intel;1033" ;;
*) echo "build-msi: unknown architecture $arch" >&2; exit 2 ;;
esac
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build-msi: version $version is not N.N.N" >&2; exit 2; }

# wixl takes its files by relative names only: it builds in a folder of its own.
out=$(realpath -m "$out")
stage=$out.files
rm -rf "$out" "$stage"
mkdir -p "$stage"
cp "$exe" "$stage/tarnwick.exe"
cp "$icon" "$stage/tarnwick.ico"
# Byte for byte the same on a rebuild: the cabinet takes its files' times,
# and the summary information is stamped last, below.
epoch=$("$here/../scripts/source-date-epoch.sh")
touch -d "@$epoch" "$stage"/*
(cd "$stage" && wixl -a "$arch" -o "$out" \
    -D Version="$version" -D ProductCode="$(guid "product:$arch:$version")" \
    -D ComponentGuid="$(guid "component:$arch")" -D Win64=$win64 -D ProgramFiles=$folder \
    -D Exe=tarnwick.exe -D Icon=tarnwick.ico "$here/tarnwick.wxs")

sql() { msibuild "$out" -q "$1"; }

# Where the program looks, by the literal paths it uses: in an x64
# package [ProgramFilesFolder] is the (x86) folder.
sql 'CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255),
     `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)'
while read -r property signature path; do
    sql "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Path\`, \`Depth\`) VALUES ('$signature', '$path', 0)"
    sql "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('$property', '$signature')"
done <<'SEARCHES'
PROFILEFOUND DefaultProfile C:\Program Files\Mozilla Firefox\defaults\profile
X86PROFILEFOUND X86Profile C:\Program Files (x86)\Mozilla Firefox\defaults\profile
MARKERFOUND DefaultMarker C:\Program Files\Mozilla Firefox\i386
X86MARKERFOUND X86Marker C:\Program Files (x86)\Mozilla Firefox\i386
SEARCHES

# Rollback (0x100) in the script (0x400), not impersonated (0x800), of the
# exe in the Binary table (2): the return code is checked.
for action in PatchRollback UndoRollback; do
    sql "UPDATE \`CustomAction\` SET \`Type\` = 3330, \`Source\` = 'RollbackExe' WHERE \`Action\` = '$action'"
done

secure=$(msiinfo export "$out" Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
sql "UPDATE \`Property\` SET \`Value\` = 'FORCE${secure:+;$secure}' WHERE \`Property\` = 'SecureCustomProperties'"

content=$({ printf '%s %s\n' "$version" "$arch"; cat "$here/tarnwick.wxs" "$0" "$exe" "$icon"; } | sha256sum)
msibuild "$out" -s Tarnwick Tarnwick "$template" "$(guid "package:${content%% *}")"
"$here/summary-times.py" "$out" "$epoch"
rm -rf "$stage"
