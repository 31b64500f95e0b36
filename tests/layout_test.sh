#!/usr/bin/env bash
# README's Layout section names every folder and file of the code: each
# source under src/, each file at the top of tests/, and each folder of
# both. A file added, moved or renamed without the README fails here.
# Usage: layout_test.sh SOURCE_DIR
set -euo pipefail
root=$1
layout=$(sed -n '/^## Layout$/,/^## [^L]/p' "$root/README.md")
[ -n "$layout" ] || { echo "README.md has no Layout section"; exit 1; }
status=0
while IFS= read -r path; do
    relative=${path#"$root"/}
    name=${path##*/}
    if [ -d "$path" ]; then
        want="$name/"  # "decode/", under src/'s listing
    else
        want=$name
    fi
    # A source beside its header may be named as "name.h, .cpp".
    also="${name%.*}.h, .${name##*.}"
    if ! grep -qF -- "$want" <<<"$layout" && ! grep -qF -- "$also" <<<"$layout"; then
        echo "README's Layout doesn't name $relative"
        status=1
    fi
done < <(find "$root/src" -mindepth 1 | sort
         find "$root/tests" -mindepth 1 -maxdepth 1 | sort)
exit "$status"
