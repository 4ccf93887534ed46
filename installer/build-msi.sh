#!/usr/bin/env bash
# Builds the package for one image of the program:
#
#   build-msi.sh VERSION ARCH EXE OUT.msi      ARCH: x64 or x86
#
# wixl writes most of it from tarnwick.wxs; msibuild then writes what wixl
# 0.101 cannot: the folder searches (it has no DirectorySearch), the exe
# actions (it writes rollbacks as immediate ones, and runs no exe from the
# Binary table), the file's version and language (it leaves them empty), the
# FORCE value's condition and removal (it has no component conditions, no
# Transitive, no RemoveRegistryValue), a downgrade check that gives way to
# the architecture's, and a package code made from the content and the tools
# (it ignores the Package's Id).
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

# One package per machine, by the machine's own architecture: the x64 image
# where it is AMD64, the x86 one everywhere else (32-bit Windows, and ARM64,
# which runs no x64 code before Windows 11).
case "$arch" in
x64) win64=yes folder=ProgramFiles64Folder template="x64;1033" ours='NATIVEARCH = "AMD64"'
     others="This is Tarnwick's package for x64 Windows. On 32-bit Windows and on Windows on ARM, install its x86 package." ;;
x86) win64=no folder=ProgramFilesFolder template="Intel;1033" ours='NATIVEARCH <> "AMD64"'
     others="This is Tarnwick's package for 32-bit Windows and Windows on ARM. On x64 Windows, install its x64 package." ;;
*) echo "build-msi: unknown architecture $arch" >&2; exit 2 ;;
esac
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build-msi: version $version is not N.N.N" >&2; exit 2; }

# The image's own version block: its file version, and the language of its
# translation, both as Windows reads them.
read -r file_version file_language < <(perl -0777 -ne '
    sub wide { join "", map { $_ . "\0" } split //, shift }
    sub align { ($_[0] + 3) & ~3 }
    my ($key, $fixed, $ms, $ls) = (-1);
    while (($key = index($_, wide("VS_VERSION_INFO\0"), $key + 1)) >= 0) {  # the name may be in code too
        $fixed = align($key + 32);
        my ($signature, undef, @version) = unpack "V4", substr($_, $fixed, 16);
        if ($signature == 0xFEEF04BD) { ($ms, $ls) = @version; last }
    }
    die "no version block\n" if $key < 0;
    my $translation = index($_, wide("Translation\0"), $fixed);
    die "no translation in the version block\n" if $translation < 0;
    printf "%d.%d.%d.%d %d\n", $ms >> 16, $ms & 0xFFFF, $ls >> 16, $ls & 0xFFFF,
        unpack "v", substr($_, align($translation + 24), 2);' "$exe") ||
    { echo "build-msi: $exe has no readable version block" >&2; exit 2; }

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
    -D ComponentGuid="$(guid "component:$arch")" -D ForceGuid="$(guid "force:$arch")" \
    -D Win64=$win64 -D ProgramFiles=$folder -D OurMachines="Installed OR $ours" \
    -D OtherMachinesMessage="$others" -D Exe=tarnwick.exe -D Icon=tarnwick.ico "$here/tarnwick.wxs")

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

# The exe in the Binary table (2), in the script (0x400), not impersonated
# (0x800); the rollbacks (0x100) too. The return code is checked.
for action in Patch Undo PatchRollback UndoRollbackDefault UndoRollbackX86; do
    type=3074
    [[ $action == *Rollback* ]] && type=3330
    sql "UPDATE \`CustomAction\` SET \`Type\` = $type, \`Source\` = 'TarnwickExe' WHERE \`Action\` = '$action'"
done

sql "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$file_language' WHERE \`File\` = 'tarnwick.exe'"

# FORCE = "1" keeps its value, and a repair looks again (transitive, 64).
# Every install and repair of the program removes it first, so FORCE=0
# clears it also where an installer keeps a component whose condition has
# turned false, as Wine does.
attributes=$(msiinfo export "$out" Component | awk -F'\t' '$1 == "ForceSetting" { print $4 }')
sql "UPDATE \`Component\` SET \`Condition\` = 'FORCE = \"1\"', \`Attributes\` = $((attributes | 64)) WHERE \`Component\` = 'ForceSetting'"
sql 'CREATE TABLE `RemoveRegistry` (`RemoveRegistry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL,
     `Key` CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL
     PRIMARY KEY `RemoveRegistry`)'
sql "INSERT INTO \`RemoveRegistry\` (\`RemoveRegistry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`)
     VALUES ('ForgetForce', 2, 'Software\\Tarnwick', 'Force', 'Program')"

# A newer product of the other image is refused for the machine, not for
# its version: no version of this package would install here.
newer=$(msiinfo export "$out" LaunchCondition | awk -F'\t' '$1 == "NOT WIX_DOWNGRADE_DETECTED" { print $2 }')
sql "DELETE FROM \`LaunchCondition\` WHERE \`Condition\` = 'NOT WIX_DOWNGRADE_DETECTED'"
sql "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES
     ('NOT WIX_DOWNGRADE_DETECTED OR NOT ($ours)', '${newer%$'\r'}')"

content=$({ printf '%s %s\n' "$version" "$arch"; wixl --version; msiinfo --version
            cat "$here/tarnwick.wxs" "$0" "$exe" "$icon"; } | sha256sum)
msibuild "$out" -s Tarnwick Tarnwick "$template" "$(guid "package:${content%% *}")"
"$here/summary-times.py" "$out" "$epoch"
rm -rf "$stage"
