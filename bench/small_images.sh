#!/usr/bin/env bash
# Many small images: what one run of pixremap costs against the plain stb
# program (build/bench/stock: stbi_load, the two maps, two stbi_write_png),
# where fixed costs (process start, the confined decoder, scratch memory,
# syncs) weigh more than the pixels.
#
#     bench/small_images.sh            (needs Debian's python3-pil)
#
# For 64x64, 256x256 and 1024x1024 RGB and 64x64 RGBA photograph-like PNGs
# (make_images.py) it runs each program RUNS times (default 100), alternating them so that
# drift hits both alike, each run in a fresh working directory on disk
# (under the build tree, or BENCH_DIR), and prints the median milliseconds
# per run of each and pixremap's as a multiple of stock's. Then it prints
# where a 64x64 run's time goes (build/bench/phases). RUNS=3 makes it a
# quick smoke run, as the test suite does.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${PIXREMAP_BUILD:-$here/../build}
runs=${RUNS:-100}
[ -x "$build/pixremap" ] && [ -x "$build/bench/stock" ] && [ -x "$build/bench/phases" ] ||
    { echo "small_images.sh: build first (./test.sh)" >&2; exit 1; }
work=$(mktemp -d -p "${BENCH_DIR:-$build}" small_images.XXXXXX)
trap 'rm -rf "$work"' EXIT

for size in "64 64" "256 256" "1024 1024"; do
    # shellcheck disable=SC2086
    /usr/bin/python3 "$here/make_images.py" "$work" $size photo photo_rgba
done

/usr/bin/python3 - "$work" "$build" "$runs" <<'PY'
import os, statistics, sys, time

work, build, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])

def run_once(binary, image, directory):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        os.chdir(directory)
        os.execv(binary, [binary, image])
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"small_images.sh: {binary} failed on {image}")
    return elapsed * 1000

programs = {"pixremap": os.path.join(build, "pixremap"), "stock": os.path.join(build, "bench", "stock")}
print(f"{'image':<16} {'pixremap ms':>12} {'stock ms':>10} {'ratio':>7}   ({runs} runs each, medians)")
for width, height, mode in [(64, 64, "RGB"), (64, 64, "RGBA"), (256, 256, "RGB"), (1024, 1024, "RGB")]:
    name = f"{width}x{height}_{mode.lower()}.png"
    image = os.path.join(work, name)
    times = {p: [] for p in programs}
    for k in range(runs):
        for p, binary in programs.items():
            directory = os.path.join(work, f"{name}.{p}{k}")
            os.mkdir(directory)
            times[p].append(run_once(binary, image, directory))
    a, b = statistics.median(times["pixremap"]), statistics.median(times["stock"])
    label = f"{width}x{height} {mode}"
    print(f"{label:<16} {a:>12.2f} {b:>10.2f} {a / b:>7.2f}")
    if name == "64x64_rgb.png":
        with open(os.path.join(work, "whole_64x64_ms"), "w") as f:
            print(a, file=f)
PY

echo
echo "Where a 64x64 RGB run's time goes (build/bench/phases, $runs runs):"
"$build/bench/phases" --runs "$runs" "$work/64x64_rgb.png" | tee "$work/phases"
# What phases can't see from inside a process: starting it (exec, dynamic
# linking), the decoder's fork and the exit, as the run above less the
# phases' sum.
awk -v whole="$(cat "$work/whole_64x64_ms")" '/^  whole run / {
    printf "  process start, linking, exit (the run above less the phases) %.1f ms\n", whole - $3 }' "$work/phases"
