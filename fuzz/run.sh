#!/usr/bin/env bash
# Builds a fuzz target with clang-14's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and fuzzes it.
#
#     fuzz/run.sh [TARGET] [SECONDS] [libFuzzer options...]
#
# TARGET is decode (the whole run in memory, the default), load (the tool's
# own load, through the confined decoder and its hand-back, against the
# decoder in process) or png_write (the PNG writer against
# stb_image_write); SECONDS defaults to 600. The seed corpus is every
# fixture (one or more of each format), every regression file, PngSuite
# and the public images of tests/corpus/, the whole public corpus
# (../shared/corpus) where it is present, and the files in the directory
# FUZZ_SEEDS names, if any: real-world images (photographs, screenshots,
# icons) up to 1 MiB make the best seeds for a long campaign. What the fuzzer learns goes to
# fuzz/corpus/TARGET/ (not kept in git), crashes to fuzz/crashes/. A crash
# found is a file to add to tests/hostile/ once the tool handles it.
#
# The targets keep each input to a few seconds under the sanitizers; the
# timeout is generous because a loaded machine runs them slower. Some
# inputs hang stb_image by design (a run-length HDR cut off at the end of
# the file reads zeros for ever), which the tool stops with its time
# budget and the targets, running in process, can't: the decoding targets
# run in libFuzzer's fork mode, which records a hang in fuzz/crashes/ as a
# timeout file and goes on, while any crash still ends the campaign. Each
# timeout file is listed at the end, to be read: one that isn't such a
# file is a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages "${build_packages[@]}" clang-14 libclang-rt-14-dev

target=decode
case ${1:-} in decode|load|png_write) target=$1; shift ;; esac
seconds=${1:-600}
shift || true
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPIXREMAP_SANITIZE=ON -DPIXREMAP_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "fuzz_$target"

mkdir -p "fuzz/corpus/$target" fuzz/crashes fuzz/seeds
# Seeds: the fixtures and the regression files that don't hang by design.
for f in tests/fixtures/* tests/hostile/* tests/pngsuite/*/*; do
    case $f in *.md|*.py|*endless*) continue ;; esac
    cp -n "$f" fuzz/seeds/
done
seeds=(fuzz/seeds tests/corpus)
if [ -d ../shared/corpus ]; then seeds+=(../shared/corpus); fi
# The PNG writer's input is raw pixels, repeated up to 64 times: 256 KiB
# already makes images of megabytes. The decoder's is a file, and real
# photographs run to a MiB.
max_len=1048576
if [ "$target" = png_write ]; then max_len=262144; fi
if [ -n "${FUZZ_SEEDS:-}" ]; then seeds+=("$FUZZ_SEEDS"); fi
hangs=()
if [ "$target" != png_write ]; then hangs=(-fork=1 -ignore_timeouts=1 -ignore_ooms=0 -ignore_crashes=0); fi
status=0
started=$(mktemp)
"build-fuzz/fuzz/fuzz_$target" "fuzz/corpus/$target" "${seeds[@]}" "${hangs[@]}" \
    -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len="$max_len" \
    -artifact_prefix="fuzz/crashes/$target-" -print_final_stats=1 "$@" || status=$?
find fuzz/crashes -name "$target-timeout-*" -newer "$started" -printf 'hang recorded: %p\n'
rm -f "$started"
exit "$status"
