#!/usr/bin/env bash
# README's Layout section names every folder and file of the code by its
# path: each source under src/, each file and folder at the top of tests/.
# The listing is a tree: a line indented four spaces names paths from the
# project's root ("src/main.cpp", "src/decode/"), and the lines indented six
# under a folder name what it holds ("load.h, load.cpp"; "save.h, .cpp" is
# save.h and save.cpp). A file added, moved to another folder or renamed
# without the README fails here, and so does a listed path that isn't there.
# Usage: layout_test.sh SOURCE_DIR
set -euo pipefail
root=$1
layout=$(sed -n '/^## Layout$/,/^## [^L]/p' "$root/README.md")
[ -n "$layout" ] || { echo "README.md has no Layout section"; exit 1; }

# The paths the listing names, one a line, from the project's root; a
# folder ends in "/".
named=$(awk '
    /^    [^ ]/ || /^      [^ ]/ {
        indent = match($0, /[^ ]/) - 1
        names = substr($0, indent + 1)
        sub(/  .*/, "", names)           # the description, after two spaces
        n = split(names, list, /, /)
        stem = ""
        for (i = 1; i <= n; i++) {
            name = list[i]
            if (name ~ /^\./ && stem != "") name = stem name   # ".cpp" after "save.h"
            stem = name
            sub(/\.[^.\/]*$/, "", stem)
            if (indent == 4) {
                print name
                if (n == 1 && name ~ /\/$/) folder = name
            } else if (indent == 6 && folder != "") {
                print folder name
            }
        }
    }' <<<"$layout" | sort -u)

status=0
while IFS= read -r path; do
    relative=${path#"$root"/}
    [ -d "$path" ] && relative="$relative/"
    # A folder counts as named when a path under it is.
    if ! grep -qxF -- "$relative" <<<"$named" &&
        ! { [ -d "$path" ] && grep -q "^$relative" <<<"$named"; }; then
        echo "README's Layout doesn't name $relative"
        status=1
    fi
done < <(find "$root/src" -mindepth 1 | sort
         find "$root/tests" -mindepth 1 -maxdepth 1 | sort)

# Every path named in src/ and tests/ is there.
while IFS= read -r relative; do
    case $relative in src/* | tests/*) ;; *) continue ;; esac
    [ -e "$root/$relative" ] || { echo "README's Layout names $relative, which is not there"; status=1; }
done <<<"$named"
exit "$status"
