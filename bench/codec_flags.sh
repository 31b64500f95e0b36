#!/usr/bin/env bash
# How the compiler's settings for stb_image's translation unit change the
# decoder's speed: builds the tool with stb at -O2, at -O3 (the Release
# default), at -O3 with link-time optimisation of the whole tool, and at
# -O3 without its locals zeroed (only to measure what the zeroing costs;
# never a build to use), runs each on the same images (whole process,
# median of RUNS runs, default 5, and stb's decode alone in a fresh process,
# median of 3), checks that every build writes the same bytes, and prints
# one table.
#
#     bench/codec_flags.sh IMAGE...
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
[ $# -gt 0 ] || { echo "usage: bench/codec_flags.sh IMAGE..." >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

declare -A options=(
    [O2]="-DPIXREMAP_STB_OPTIONS=-O2"
    [O3]="-DPIXREMAP_STB_OPTIONS="
    [O3-lto]="-DPIXREMAP_STB_OPTIONS= -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON"
    [O3-unzeroed]="-DPIXREMAP_STB_OPTIONS=-ftrivial-auto-var-init=uninitialized"
)
variants=(O2 O3 O3-lto O3-unzeroed)
for v in "${variants[@]}"; do
    # shellcheck disable=SC2086
    cmake -S . -B "build-flags-$v" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON ${options[$v]} >/dev/null
    # stb's own code draws compiler warnings under LTO; they are not ours.
    cmake --build "build-flags-$v" --target pixremap phases -j "$(nproc)" >/dev/null 2>&1
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-28s %-12s %10s %10s\n' image build "run s" "decode ms"
for image in "$@"; do
    image=$(realpath "$image")
    for v in "${variants[@]}"; do
        dir=$work/$v
        mkdir -p "$dir"
        : > "$work/times"
        for _ in $(seq "$runs"); do
            (cd "$dir" && /usr/bin/time -f '%e' -a -o "$work/times" "$OLDPWD/build-flags-$v/pixremap" "$image")
        done
        # The phase report times stb's decode alone, in a fresh process.
        phases=$("build-flags-$v/bench/phases" --runs 3 "$image")
        decode=$(echo "$phases" | awk '/of which stb decode/ { print $(NF-2) }')
        printf '%-28s %-12s %10.2f %10.1f\n' "$(basename "$image")" "$v" \
            "$(median < "$work/times")" "$decode"
        for out in outfirst.png outsecond.png; do
            cmp -s "$work/${variants[0]}/$out" "$dir/$out" ||
                echo "codec_flags: $v writes different bytes in $out" >&2
        done
    done
done
