#!/usr/bin/env bash
# Prints the moment every shipped file is stamped with, in seconds since
# 1970 UTC: SOURCE_DATE_EPOCH when it is already set, else the time of the
# last commit, so that two builds of one commit are byte for byte the same
# wherever and whenever they are made. Outside a git checkout (a copy of
# the sources), a fixed moment: 2026-12-10 00:00 UTC.
set -euo pipefail
if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || {
        echo "source-date-epoch: SOURCE_DATE_EPOCH is '$SOURCE_DATE_EPOCH', not a number of seconds" >&2
        exit 2
    }
    echo "$SOURCE_DATE_EPOCH"
    exit 0
fi
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
# Only this tree's own history: a copy unpacked inside another checkout is
# still a copy.
if [[ $(git -C "$top" rev-parse --show-toplevel 2>/dev/null) == "$top" ]]; then
    git -C "$top" log -1 --format=%ct
else
    echo 1796860800
fi
