#!/usr/bin/env bash
# What each path of kernels (src/arch/kernels.h) costs a whole run on this
# machine: the portable loops, the generic vector kernels (what ppc64el
# runs, and x86-64 and arm64 built with PIXREMAP_ARCH_KERNELS=OFF) and each
# instruction set the processor has (arm64's NEON; x86-64's SSE2, AVX2,
# AVX-512), chosen with PIXREMAP_KERNELS.
#
#     bench/kernel_paths.sh [IMAGE...]     (RUNS=5 by default)
#
# Needs a build with the kernel switch (./test.sh's build/). With no image it
# makes 12 MP RGB and RGBA pictures with bench/make_images.py. The paths run
# in turn, round after round, so that drift hits all alike; it prints each
# path's median processor time (user + system) and its multiple of the
# fastest path's, and checks that every path wrote the same bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pixremap=${PIXREMAP_BUILD:-$here/../build}/pixremap
runs=${RUNS:-5}
grep -q 'PIXREMAP_KERNEL_SWITCH:BOOL=ON' "$(dirname "$pixremap")/CMakeCache.txt" 2>/dev/null ||
    { echo "kernel_paths.sh: needs a build with -DPIXREMAP_KERNEL_SWITCH=ON (./test.sh's)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
images=("$@")
if [ ${#images[@]} -eq 0 ]; then
    /usr/bin/python3 "$here/make_images.py" "$work" 4000 3000 photo photo_rgba >/dev/null
    images=("$work"/4000x3000_rgb.png "$work"/4000x3000_rgba.png)
fi
# The paths this machine runs (the tool takes the best it has for any other).
paths=(portable generic)
[ "$(uname -m)" = aarch64 ] && paths+=(neon)
if [ "$(uname -m)" = x86_64 ]; then
    paths+=(sse2)
    grep -qw avx2 /proc/cpuinfo && paths+=(avx2)
    grep -qw avx2 /proc/cpuinfo && grep -qw avx512bw /proc/cpuinfo && paths+=(avx512)
fi
for image in "${images[@]}"; do
    image=$(realpath "$image")
    for round in $(seq "$runs"); do
        for path in "${paths[@]}"; do
            mkdir -p "$work/$path"
            (cd "$work/$path" && PIXREMAP_KERNELS=$path /usr/bin/time -f '%U %S' -o "$work/time" "$pixremap" "$image")
            echo "$path $(awk '{print $1 + $2}' "$work/time")" >>"$work/times"
            [ "$round" -gt 1 ] || sha256sum <"$work/$path/outsecond.png" >"$work/$path.sum"
        done
    done
    echo "${image##*/}: processor seconds, median of $runs"
    sort -k1,1 -k2,2n "$work/times" | awk '
        { t[$1, ++n[$1]] = $2 }
        END { for (p in n) { m[p] = t[p, int((n[p] + 1) / 2)]; if (!best || m[p] < best) best = m[p] }
              for (p in n) printf "  %-9s %6.2f s  %5.2fx\n", p, m[p], m[p] / best }' | sort -k2,2n
    [ "$(sort -u "$work"/*.sum | wc -l)" -eq 1 ] && echo "  same bytes on every path: yes" ||
        { echo "  same bytes on every path: NO" >&2; exit 1; }
    rm -f "$work/times" "$work"/*.sum
done
