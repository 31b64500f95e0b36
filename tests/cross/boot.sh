#!/usr/bin/env bash
# boot.sh ARCH BUILD_DIR OUT [TOOL]: boots Debian's own kernel for ARCH
# under qemu-system with a small initramfs (ARCH's busybox-static,
# confine_test from BUILD_DIR and pixremap, TOOL or BUILD_DIR's, with their
# libraries from ARCH's sysroot, and the input files), which runs confine_test, then pixremap, confined, on
# every input (results.sh), and powers off. Writes results.sh's lines to
# OUT; the whole console goes to OUT.log. Fails if the boot doesn't get
# through, or confine_test fails there.
#
# Needs the sysroot (sysroot.sh), qemu-system-arm, qemu-system-misc or
# qemu-system-x86, and ARCH and the kernel's architecture in dpkg's list
# (check.sh sees to it). Emulated throughout (no KVM needed).
set -euo pipefail
. "$(dirname "$0")/common.sh"
arch=$1
build=$(realpath "$2")
out=$3
tool=${4:-$build/pixremap}
arch_setup "$arch"
[ -n "$kernel" ] || { echo "boot.sh: no kernel to boot for $arch" >&2; exit 2; }
sysroot=$cross_dir/$arch/sysroot
as_root=()
[ "$(id -u)" -eq 0 ] && as_root=(-o APT::Sandbox::User=root)

# Debian's kernel for the architecture: the image alone, taken out of the
# package of the version its metapackage names (linux-image-arm64:arm64,
# linux-image-686-pae:i386, ...): vmlinuz, or on ppc64el vmlinux.
kernel_dir=$cross_dir/kernel-$kernel
if [ ! -f "$kernel_dir/image" ]; then
    package=$(apt-cache depends "linux-image-$kernel:$kernel_arch" | sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n 1)
    [ -n "$package" ] || { echo "boot.sh: apt knows no linux-image-$kernel:$kernel_arch" >&2; exit 1; }
    rm -rf "$kernel_dir"
    mkdir -p "$kernel_dir"
    (cd "$kernel_dir" && apt-get download -qq "${as_root[@]}" "$package:$kernel_arch" >/dev/null &&
        dpkg-deb --fsys-tarfile ./*.deb | tar -x --wildcards './boot/vmlinu[xz]-*' &&
        mv boot/vmlinu[xz]-* image && rm -rf boot ./*.deb)
fi

# The initramfs.
tree=$cross_dir/$arch/initramfs
rm -rf "$tree"
mkdir -p "$tree/bin" "$tree/pixremap" "$tree/inputs" "$tree/lib/$multiarch" "$tree/proc" "$tree/tmp"
(cd "$tree" && apt-get download -qq "${as_root[@]}" "busybox-static:$arch" >/dev/null &&
    dpkg-deb -x ./busybox-static_*.deb unpacked && mv unpacked/bin/busybox bin/ &&
    rm -rf unpacked ./*.deb)

# A program with the libraries it names, found in the sysroot, and its
# loader where it says.
with_libraries() {
    local queue=("$@") file lib found interp
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        for lib in $("$gnu_type-readelf" -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [ -e "$tree/lib/$multiarch/$lib" ] && continue
            found=
            for dir in "$sysroot/lib/$multiarch" "$sysroot/usr/lib/$multiarch"; do
                [ -e "$dir/$lib" ] && found=$dir/$lib && break
            done
            [ -n "$found" ] || { echo "boot.sh: $lib not in the sysroot" >&2; exit 1; }
            cp -L "$found" "$tree/lib/$multiarch/$lib"
            queue+=("$tree/lib/$multiarch/$lib")
        done
        interp=$("$gnu_type-readelf" -l "$file" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
        if [ -n "$interp" ] && [ ! -e "$tree$interp" ]; then
            mkdir -p "$tree$(dirname "$interp")"
            cp -L "$sysroot$interp" "$tree$interp"
        fi
    done
}
cp "$tool" "$tree/pixremap/pixremap"
cp "$build/tests/confine_test" "$tree/pixremap/"
with_libraries "$tree/pixremap/pixremap" "$tree/pixremap/confine_test"

list_inputs >"$tree/inputs.txt"
(cd "$root/tests" && tar -c -T "$tree/inputs.txt") | tar -x -C "$tree/inputs"
# confine_test reads the fixture where the build put it.
mkdir -p "$tree$root/tests/fixtures"
cp "$root/tests/fixtures/rgb.png" "$tree$root/tests/fixtures/"
cp "$root/tests/cross/results.sh" "$tree/"
# The initramfs stays the root file system, in memory and writable: the
# runs work in its /tmp (no file system is mounted over it, where the source
# tree may be). A PC's BIOS clears the serial console as the kernel starts,
# leaving the line unended: the first line of ours starts on a line of its
# own.
cat >"$tree/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
echo
echo "boot: $(uname -m) $(uname -r)"
if /pixremap/confine_test >/tmp/confine.log 2>&1; then
    echo "confine_test: passed"
else
    echo "confine_test: failed"
    cat /tmp/confine.log
fi
TMPDIR=/tmp sh /results.sh /pixremap/pixremap /inputs /inputs.txt | sed 's/^/result /'
echo "boot: done"
poweroff -f
INIT
chmod +x "$tree/init"
(cd "$tree" && find . | cpio -o -H newc --quiet) >"$cross_dir/$arch/initramfs.cpio"

# The boot. The console's lines end in CR LF.
timeout 1800 "${qemu_system[@]}" -m 1G -nographic -no-reboot -nic none \
    -kernel "$kernel_dir/image" -initrd "$cross_dir/$arch/initramfs.cpio" \
    -append "console=$console rdinit=/init loglevel=1 panic=-1" </dev/null | tr -d '\r' >"$out.log" || true
sed -n 's/^result //p' "$out.log" >"$out"
grep -q '^confine_test: passed$' "$out.log" || { echo "boot.sh: confine_test failed on $arch (see $out.log)" >&2; exit 1; }
grep -q '^boot: done$' "$out.log" || { echo "boot.sh: the $arch boot did not finish (see $out.log)" >&2; exit 1; }
