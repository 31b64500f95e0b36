#!/usr/bin/env bash
# Builds pixremap with warnings as errors and runs every test, then builds it
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test once more. The "slow" group (16384x16384 images from tiny hostile
# files, a 1.6 GB image past stb_image_write's limits, a 300 MB one held to
# its bytes: minutes and gigabytes) runs once, in the first build. Then the
# Debian package (tests/debian/check.sh): built with dpkg-buildpackage,
# checked by lintian, built again to show it reproducible, and tested with
# its autopkgtests. Last, Debian 12's other release architectures
# (tests/cross/check.sh): arm64, armel, armhf, i386, mips64el, mipsel,
# ppc64el and s390x cross-built with warnings as errors, and packaged with
# dpkg-buildpackage -a; i386's suite
# run here where this x86-64 kernel runs 32-bit programs, the others' (and
# i386's where it can't, or with PIXREMAP_I386_EMULATED=1) in-process tests
# under qemu-user and their packaged tool booted on their own kernels under
# qemu-system, every output held to amd64's.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
need_packages "${build_packages[@]}" "${test_packages[@]}" "${debian_packages[@]}" "${cross_packages[@]}"

jobs=$(nproc)
# Each stage's heading says when it started, so that what each costs reads
# off the log.
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }
build_in() {
    local dir=$1
    shift
    # The kernel switch lets the tests run every path of kernels this
    # machine can (arch/kernels.h); packages are built without it.
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPIXREMAP_WERROR=ON -DBUILD_TESTING=ON \
        -DPIXREMAP_KERNEL_SWITCH=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

stage "tests"
build_in build
if [ -d ../shared/corpus ]; then
    echo "(the public corpus is here, ../shared/corpus: corpus_test runs all of it besides tests/corpus/)"
else
    echo "(no public corpus at ../shared/corpus: corpus_test runs only the files of tests/corpus/)"
fi
ctest --test-dir build --output-on-failure -j "$jobs" -LE slow
stage "slow tests (images of gigabytes)"
ctest --test-dir build --output-on-failure -L slow
stage "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build_in build-sanitize -DPIXREMAP_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The whole public corpus ran above; here the files of tests/corpus/ stand
# for it (each run takes a second under the sanitizers).
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -LE slow -E '^shared/corpus'
stage "the Debian package: built with its tests, lintian, built again for reproducibility, autopkgtests"
tests/debian/check.sh
stage "other architectures: cross-built, run natively (i386, where this kernel can), under qemu and on their own kernels"
tests/cross/check.sh arm64 armhf armel i386 s390x ppc64el mips64el mipsel
echo "== all passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
