#!/usr/bin/env bash
# check.sh ARCH...: whether pixremap builds and works on each Debian
# architecture named (arm64, armhf, i386, s390x), as a Debian porter would
# check it. For each:
#
#  1. the libraries of ARCH, unpacked into a sysroot (sysroot.sh);
#  2. everything the build makes (tool, tests, fuzz replays, benchmarks),
#     cross-built with Debian's cross compiler and warnings as errors;
#  3. the Debian package, cross-built the Debian way (dpkg-buildpackage -a
#     ARCH -Pcross,nocheck, its build dependencies for ARCH installed with
#     apt-get build-dep) and unpacked: the tool the runs below use;
#  4. i386, where this x86-64 kernel runs 32-bit x86 programs itself: the
#     whole test suite but the slow group and packaging, confinement
#     included, and the packaged pixremap on every input, here;
#     the others, and i386 where the kernel can't run it: the tests that
#     run in one process (the byte maps, the PNG writer held to
#     stb_image_write, the decoder in memory) under qemu-user, then
#     boot.sh: ARCH's own Debian kernel under qemu-system, running
#     confine_test and the packaged pixremap, confined, on every input;
#  5. the packaged pixremap's exit status, message and both outputs'
#     SHA-256 on every input, which must be those of the amd64 build in
#     build/, line for line.
#
# A boot (one emulated processor) runs beside the next architecture's
# build, one boot at a time; its lines come when it is collected.
#
# Which way i386 goes is found out once, first, by building a tiny static
# i386 program and running it: it must run, and on the kernel itself (it
# sees the same processor as this shell does, not an emulator's i686).
# PIXREMAP_I386_EMULATED=1 takes the emulated way without asking.
#
# Run as root (or with sudo at hand): it installs what is missing of
# scripts/packages.sh's build, Debian and cross packages, and adds the
# architectures to dpkg's list. Brings build/pixremap up to date;
# everything else goes to build-cross/ (or $PIXREMAP_CROSS_DIR).
set -euo pipefail
. "$(dirname "$0")/common.sh"
. "$root/scripts/packages.sh"
[ $# -gt 0 ] || { echo "usage: tests/cross/check.sh ARCH..." >&2; exit 2; }
case ${PIXREMAP_I386_EMULATED:-0} in
    0 | 1) ;;
    *) echo "check.sh: PIXREMAP_I386_EMULATED is 1 (emulate i386) or 0 (find out), not '$PIXREMAP_I386_EMULATED'" >&2
       exit 2 ;;
esac
jobs=$(nproc)
need_packages "${build_packages[@]}" "${debian_packages[@]}" "${cross_packages[@]}"

# Whether ARCH runs here, on this machine's kernel, or emulated: sets
# emulated[ARCH] (yes or empty) and how[ARCH], the line that says which way
# and why.
declare -A emulated how
decide_how_it_runs() {
    local arch=$1 out status=0 reason
    local probe=$cross_dir/probe-$arch
    emulated[$arch]=yes
    how[$arch]="$arch: in-process tests under qemu-user, the package booted on Debian's $kernel_arch kernel"
    [ -n "$may_run_here" ] || return 0
    # i386 on x86-64, the one architecture that may.
    local booted="in-process tests under qemu-i386, the package booted on Debian's i386 kernel"
    if [ "${PIXREMAP_I386_EMULATED:-0}" = 1 ]; then
        how[$arch]="$arch: PIXREMAP_I386_EMULATED=1: $booted"
        return 0
    fi
    mkdir -p "$probe"
    printf '%s\n' '#include <stdio.h>' '#include <sys/utsname.h>' \
        'int main(void) { struct utsname u; return uname(&u) != 0 || puts(u.machine) < 0; }' >"$probe/probe.c"
    "$gnu_type-gcc" -static -o "$probe/probe" "$probe/probe.c"
    out=$("$probe/probe" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        # bash's "...: cannot execute binary file: Exec format error".
        reason=${out##*: }
        how[$arch]="$arch: this kernel runs no 32-bit x86 programs (${reason:-exit status $status}): $booted"
    elif [ "$out" != "$(uname -m)" ]; then
        # binfmt_misc hands them to an emulator, which can't confine them.
        how[$arch]="$arch: 32-bit x86 programs run here only through an emulator (they see $out, not $(uname -m)): $booted"
    else
        emulated[$arch]=
        how[$arch]="$arch: this kernel runs 32-bit x86 programs itself: the whole suite and the package here, natively"
    fi
}

kernel_arches=()
for arch in "$@"; do
    arch_setup "$arch"
    decide_how_it_runs "$arch"
    if [ -n "${emulated[$arch]}" ]; then
        [ -n "$kernel" ] || { echo "check.sh: $arch can't run here, and common.sh names no kernel to boot for it" >&2; exit 2; }
        kernel_arches+=("$kernel_arch")
    fi
done
need_architectures "$@" "${kernel_arches[@]}"

# amd64's lines, the reference, from the current sources.
[ -f "$root/build/CMakeCache.txt" ] || cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target pixremap -j "$jobs" >/dev/null
mkdir -p "$cross_dir"
list_inputs >"$cross_dir/inputs.txt"
sh "$root/tests/cross/results.sh" "$root/build/pixremap" "$root/tests" "$cross_dir/inputs.txt" \
    >"$cross_dir/amd64.results"

# Compares an architecture's lines with amd64's; says how many agree.
compare() {
    local arch=$1 results=$2
    if ! diff -u "$cross_dir/amd64.results" "$results" >"$results.diff"; then
        echo "$arch: differs from amd64:" >&2
        cat "$results.diff" >&2
        return 1
    fi
    local inputs outputs
    inputs=$(wc -l <"$results")
    outputs=$(awk '{ n += ($3 != "-") + ($4 != "-") } END { print n }' "$results")
    echo "$arch: all $inputs inputs as on amd64 (exit status, message, and $outputs output files byte for byte)"
}

seconds() { echo $((SECONDS - $1)); }

# The Debian package for ARCH, cross-built from a copy of the committed
# sources in DIR/package and unpacked into DIR/installed.
package_for() {
    local arch=$1 dir=$2 as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    rm -rf "$dir/package" "$dir/installed"
    mkdir -p "$dir/package/pixremap"
    git -C "$root" ls-files -z | (cd "$root" && tar --null -T - -cf -) | tar -xf - -C "$dir/package/pixremap"
    # The build dependencies for ARCH are installed beside this machine's
    # own (multiarch), which needs each library both use at one version for
    # both architectures: a mirror whose lists for ARCH lag amd64's can't
    # give that.
    (cd "$dir/package/pixremap" &&
        DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get build-dep -y -qq -a "$arch" -P cross,nocheck ./) \
        >"$dir/package.log" 2>&1 || {
        cat "$dir/package.log" >&2
        echo "$arch: apt could not install the build dependencies for $arch (above); where it wants a library" \
            "at two versions, the mirror's lists for $arch lag amd64's, which multiarch can't mix" >&2
        exit 1
    }
    (cd "$dir/package/pixremap" &&
        DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -a "$arch" -Pcross,nocheck -us -uc -b) \
        >>"$dir/package.log" 2>&1 || { cat "$dir/package.log" >&2; exit 1; }
    deb=$(ls "$dir"/package/pixremap_*_"$arch".deb)
    lintian --fail-on error,warning "$deb" >>"$dir/package.log" 2>&1 ||
        { cat "$dir/package.log" >&2; echo "$arch: lintian found errors or warnings" >&2; exit 1; }
    dpkg-deb -x "$deb" "$dir/installed"
}
# "401 tests passed", from CTest's summary.
passed() { sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1 tests passed/p' "$1"; }

# A boot runs one emulated processor, a thread of this machine: it runs in
# the background, one at a time, while the next architecture builds on the
# other core, and is collected before the next boot starts and at the end.
boot_arch=
boot_pid=
boot_start=0
start_boot() {
    local arch=$1 dir=$2 tool=$3
    boot_arch=$arch
    boot_start=$SECONDS
    "$root/tests/cross/boot.sh" "$arch" "$dir/build" "$dir/results" "$tool" >"$dir/boot.out" 2>&1 &
    boot_pid=$!
}
finish_boot() {
    [ -n "$boot_arch" ] || return 0
    local arch=$boot_arch dir=$cross_dir/$boot_arch status=0
    boot_arch=
    wait "$boot_pid" || status=$?
    boot_pid=
    cat "$dir/boot.out" >&2
    [ "$status" -eq 0 ] || exit 1
    echo "$arch: booted $(sed -n 's/^boot: \([^ ]*\) \(.*\)/Linux \2 (\1)/p' "$dir/results.log"), confine_test passed ($(seconds "$boot_start") s, beside what came after it)"
    compare "$arch" "$dir/results"
}
# A boot left running when this stops is stopped with it (timeout hands
# the signal on to qemu).
stop_boot() {
    [ -n "$boot_pid" ] || return 0
    pkill -P "$boot_pid" 2>/dev/null || true
    kill "$boot_pid" 2>/dev/null || true
}
trap stop_boot EXIT

for arch in "$@"; do
    arch_setup "$arch"
    dir=$cross_dir/$arch
    echo "== $arch"
    echo "${how[$arch]}"
    arch_start=$SECONDS
    emulate=OFF
    [ -n "${emulated[$arch]}" ] && emulate=ON
    # The toolchain's link flags are the cache's from the first configure:
    # a build made the other way is started afresh.
    if [ -f "$dir/build/CMakeCache.txt" ] &&
        ! grep -qx "PIXREMAP_CROSS_EMULATE:BOOL=$emulate" "$dir/build/CMakeCache.txt"; then
        rm -rf "$dir/build"
    fi
    start=$SECONDS
    "$root/tests/cross/sysroot.sh" "$arch" "$dir/sysroot"
    cmake -S "$root" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DPIXREMAP_WERROR=ON -DBUILD_TESTING=ON \
        -DPIXREMAP_KERNEL_SWITCH=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/tests/cross/toolchain.cmake" \
        -DPIXREMAP_CROSS_ARCH="$arch" -DPIXREMAP_CROSS_SYSROOT="$dir/sysroot" \
        -DPIXREMAP_CROSS_EMULATE:BOOL=$emulate >"$dir/configure.log" 2>&1 ||
        { cat "$dir/configure.log" >&2; exit 1; }
    cmake --build "$dir/build" -j "$jobs" >"$dir/build.log" 2>&1 || { cat "$dir/build.log" >&2; exit 1; }
    echo "$arch: built everything with warnings as errors ($(seconds "$start") s)"
    start=$SECONDS
    package_for "$arch" "$dir"
    tool=$dir/installed/usr/bin/pixremap
    echo "$arch: packaged with dpkg-buildpackage -a $arch -Pcross,nocheck: ${deb##*/}, lintian-clean ($(seconds "$start") s)"

    start=$SECONDS
    if [ -z "${emulated[$arch]}" ]; then
        # Run here: the suite as on amd64, then every input.
        ctest --test-dir "$dir/build" --output-on-failure -j "$jobs" -LE slow -E '^package$' >"$dir/ctest.log" 2>&1 ||
            { cat "$dir/ctest.log" >&2; exit 1; }
        echo "$arch: $(passed "$dir/ctest.log") ($(seconds "$start") s)"
        sh "$root/tests/cross/results.sh" "$tool" "$root/tests" "$cross_dir/inputs.txt" >"$dir/results"
        compare "$arch" "$dir/results"
    else
        ctest --test-dir "$dir/build" --output-on-failure -j "$jobs" -L in_process >"$dir/ctest.log" 2>&1 ||
            { cat "$dir/ctest.log" >&2; exit 1; }
        echo "$arch: $(passed "$dir/ctest.log") under qemu-user ($(seconds "$start") s)"
        finish_boot
        start_boot "$arch" "$dir" "$tool"
    fi
    echo "$arch: built, packaged and tested in $(seconds "$arch_start") s"
done
finish_boot
