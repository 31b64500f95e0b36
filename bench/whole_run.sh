#!/usr/bin/env bash
# What the confined decoder costs a whole run, and how much memory a run
# takes: runs build/pixremap and build/bench/unconfined (the same run with
# the decoder in the process) in turn on each image, RUNS times each
# (default 7, alternating so that drift hits both alike), and prints the
# median wall, user and system time and peak resident memory of each, the
# latter also as a multiple of the decoded image's size.
#
#     bench/whole_run.sh IMAGE...     (needs /usr/bin/time and Pillow)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${PIXREMAP_BUILD:-$here/../build}  # the build tree to measure
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$build/pixremap" ] && [ -x "$build/bench/unconfined" ] ||
    { echo "whole_run.sh: build first (./test.sh)" >&2; exit 1; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %-11s %8s %8s %8s %9s %8s\n' image run "wall s" "user s" "sys s" "peak MB" "x image"
for image in "$@"; do
    image=$(realpath "$image")
    bytes=$(/usr/bin/python3 -c 'import sys; from PIL import Image
im = Image.open(sys.argv[1]); print(im.width * im.height * len(im.getbands()))' "$image")
    : > "$work/pixremap" && : > "$work/unconfined"
    for _ in $(seq "$runs"); do
        for tool in pixremap unconfined; do
            binary=$build/pixremap
            [ "$tool" = unconfined ] && binary=$build/bench/unconfined
            (cd "$work" && /usr/bin/time -f '%e %U %S %M' -a -o "$work/$tool" "$binary" "$image")
        done
    done
    for tool in pixremap unconfined; do
        col() { awk -v c="$1" '{ print $c }' "$work/$tool" | median; }
        peak_kb=$(col 4)
        printf '%-22s %-11s %8.2f %8.2f %8.2f %9.0f %8.2f\n' "$(basename "$image")" "$tool" \
            "$(col 1)" "$(col 2)" "$(col 3)" "$(echo "$peak_kb / 1024" | bc -l)" \
            "$(echo "$peak_kb * 1024 / $bytes" | bc -l)"
    done
done
