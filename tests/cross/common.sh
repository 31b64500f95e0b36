# Sourced by the cross-architecture scripts: where things go, what each
# Debian architecture is called by its tools, and how it is run.
#
#   arch_setup ARCH   sets gnu_type (the compilers' prefix), multiarch (the
#                     library directory's name); may_run_here, "yes" where
#                     this machine's kernel may run ARCH's programs itself
#                     (i386 on x86-64, if it was built with 32-bit support:
#                     check.sh tries it); and for booting ARCH's own Debian
#                     kernel: kernel (the flavour, linux-image-FLAVOUR),
#                     kernel_arch (the kernel package's architecture),
#                     qemu_system (the command) and console (the kernel's
#                     console device). (Which qemu-user runs the programs,
#                     toolchain.cmake says.)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cross_dir=${PIXREMAP_CROSS_DIR:-$root/build-cross}

arch_setup() {
    local arch=$1
    gnu_type=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
    may_run_here=
    kernel=
    kernel_arch=
    qemu_system=()
    console=
    case $arch in
        # An arm64 kernel also runs armhf and armel programs (32-bit
        # compatibility): both boot the arm64 kernel with their programs on
        # it. The Cortex-A57 runs 32-bit programs, and boots faster under
        # emulation than qemu's "max" processor.
        arm64 | armhf | armel)
            kernel=arm64
            kernel_arch=arm64
            qemu_system=(qemu-system-aarch64 -M virt -cpu cortex-a57)
            console=ttyAMA0 ;;
        # TCG has none of the speculation mitigations pseries asks for by
        # default; asking for none keeps qemu from warning of each.
        ppc64el)
            kernel=powerpc64le
            kernel_arch=ppc64el
            qemu_system=(qemu-system-ppc64 -M pseries,cap-cfpc=broken,cap-sbbc=broken,cap-ibs=broken,cap-ccf-assist=off)
            console=hvc0 ;;
        # Debian's Malta kernels: MIPS64 release 2 for mips64el, MIPS32
        # release 2 (qemu's default 24Kf) for mipsel, each the baseline its
        # programs are built for.
        mips64el)
            kernel=5kc-malta
            kernel_arch=mips64el
            qemu_system=(qemu-system-mips64el -M malta -cpu 5KEc)
            console=ttyS0 ;;
        mipsel)
            kernel=4kc-malta
            kernel_arch=mipsel
            qemu_system=(qemu-system-mipsel -M malta)
            console=ttyS0 ;;
        s390x)
            kernel=s390x
            kernel_arch=s390x
            qemu_system=(qemu-system-s390x -M s390-ccw-virtio -cpu max)
            console=ttysclp0 ;;
        # An x86-64 kernel built with 32-bit support runs i386 programs
        # itself; where it can't, i386 boots Debian's 32-bit kernel on a PC.
        # The 686-pae flavour needs PAE; the Pentium III has it, and is of
        # the i686 baseline Debian builds i386 for (no SSE2).
        i386)
            [ "$(uname -m)" = x86_64 ] && may_run_here=yes
            kernel=686-pae
            kernel_arch=i386
            qemu_system=(qemu-system-i386 -M pc -cpu pentium3)
            console=ttyS0 ;;
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
