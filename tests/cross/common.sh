# Sourced by the cross-architecture scripts: where things go, what each
# Debian architecture is called by its tools, and how it is run.
#
#   arch_setup ARCH   sets gnu_type (the compilers' prefix), multiarch (the
#                     library directory's name), and for booting: kernel
#                     (the Debian kernel package's architecture and
#                     flavour), qemu_system (the command) and console (the
#                     kernel's console device). (Which qemu-user runs the
#                     programs, toolchain.cmake says.)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cross_dir=${PIXREMAP_CROSS_DIR:-$root/build-cross}

arch_setup() {
    local arch=$1
    gnu_type=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
    qemu_system=()
    case $arch in
        # An arm64 kernel also runs armhf programs (32-bit compatibility):
        # armhf boots the arm64 kernel with armhf programs on it. The
        # Cortex-A57 runs 32-bit programs, and boots faster under emulation
        # than qemu's "max" processor.
        arm64 | armhf)
            kernel=arm64
            qemu_system=(qemu-system-aarch64 -M virt -cpu cortex-a57)
            console=ttyAMA0 ;;
        s390x)
            kernel=s390x
            qemu_system=(qemu-system-s390x -M s390-ccw-virtio -cpu max)
            console=ttysclp0 ;;
        *)
            kernel= ;;
    esac
}

# The input files every architecture runs pixremap on, relative to tests/:
# the fixtures, the hostile files but those that hang the decoder by design
# ("endless") or take minutes ("16384"), and all of PngSuite; the same set
# the end-to-end tests call quick.
list_inputs() {
    (cd "$root/tests" && find fixtures hostile pngsuite/valid pngsuite/corrupt -type f \
        ! -name '*.md' ! -name '*.py' ! -name '*endless*' ! -name '*16384*' | LC_ALL=C sort)
}
