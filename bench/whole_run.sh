#!/usr/bin/env bash
# A whole run against its baselines, and how much memory it takes: runs
# build/pixremap, build/bench/unconfined (the same run with the decoder in
# the process: what the confinement costs) and build/bench/stock (stbi_load
# and two stbi_write_png, nothing added) in turn on each image, RUNS times
# each (default 7, alternating so that drift hits all alike), and prints
# the median wall, user and system time and peak resident memory of each,
# the latter also as a multiple of the decoded image's size, and each one's
# processor time (user + system) as a multiple of stock's.
#
#     bench/whole_run.sh IMAGE...     (needs /usr/bin/time and Pillow)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${PIXREMAP_BUILD:-$here/../build}  # the build tree to measure
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$build/pixremap" ] && [ -x "$build/bench/unconfined" ] && [ -x "$build/bench/stock" ] ||
    { echo "whole_run.sh: build first (./test.sh)" >&2; exit 1; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %-11s %8s %8s %8s %9s %8s %9s\n' image run "wall s" "user s" "sys s" "peak MB" "x image" "CPU/stock"
for image in "$@"; do
    image=$(realpath "$image")
    bytes=$(/usr/bin/python3 -c 'import sys; from PIL import Image
im = Image.open(sys.argv[1]); print(im.width * im.height * len(im.getbands()))' "$image")
    tools=(pixremap unconfined stock)
    for tool in "${tools[@]}"; do : > "$work/$tool"; done
    for _ in $(seq "$runs"); do
        for tool in "${tools[@]}"; do
            binary=$build/bench/$tool
            [ "$tool" = pixremap ] && binary=$build/pixremap
            (cd "$work" && /usr/bin/time -f '%e %U %S %M' -a -o "$work/$tool" "$binary" "$image")
        done
    done
    col() { awk -v c="$2" '{ print $c }' "$work/$1" | median; }
    cpu() { awk '{ print $2 + $3 }' "$work/$1" | median; }
    for tool in "${tools[@]}"; do
        peak_kb=$(col "$tool" 4)
        printf '%-22s %-11s %8.2f %8.2f %8.2f %9.0f %8.2f %9.2f\n' "$(basename "$image")" "$tool" \
            "$(col "$tool" 1)" "$(col "$tool" 2)" "$(col "$tool" 3)" "$(echo "$peak_kb / 1024" | bc -l)" \
            "$(echo "$peak_kb * 1024 / $bytes" | bc -l)" "$(awk -v a="$(cpu "$tool")" -v b="$(cpu stock)" 'BEGIN { print (b > 0 ? a / b : 0) }')"
    done
done
