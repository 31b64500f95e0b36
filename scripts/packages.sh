# Sourced by run.sh, test.sh, fuzz/run.sh and tests/cross/check.sh: installs
# the Debian packages named in its arguments that are not installed yet,
# through apt-get (as root, or with sudo). Prints nothing when everything is
# there already.

# apt-get update, run as "$@" apt-get update (so "sudo" or nothing). A
# mirror caught in the middle of a sync serves an index that doesn't match
# its Release file ("File has unexpected size ... Mirror sync in
# progress?") and apt-get update then fails as a whole, though every other
# index came down. So it is tried three times, a little apart, and if some
# index still fails this says so and goes on with the lists apt has: the
# packages wanted are often in the indexes that did come down, and one
# that truly can't be had fails later with apt's own message.
apt_update() {
    local try errors
    for try in 1 2 3; do
        errors=$("$@" apt-get update -qq 2>&1 >/dev/null) && return 0
        [ "$try" -lt 3 ] && sleep $((try * 5))
    done
    echo "warning: apt-get update failed three times; going on with the package lists apt has:" >&2
    sed -n 's/^E: /    /p' <<<"$errors" >&2
    return 0
}

need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || {
            echo "pixremap: missing packages (${missing[*]}); run this as root or install sudo" >&2
            return 1
        }
        as_root=(sudo)
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt_update "${as_root[@]}"
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Adds Debian architectures to dpkg's list, so that apt can fetch their
# packages, and updates apt's lists if it did, or if apt has no packages of
# one of them yet (an earlier run stopped after adding it) (as root, or with
# sudo).
need_architectures() {
    local missing=() unlisted=() arch
    for arch in "$@"; do
        [ "$arch" = "$(dpkg --print-architecture)" ] && continue
        [[ " ${missing[*]} ${unlisted[*]} " == *" $arch "* ]] && continue
        if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            missing+=("$arch")
        elif ! apt-cache show "libc6:$arch" >/dev/null 2>&1; then
            unlisted+=("$arch")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && [ ${#unlisted[@]} -eq 0 ] && return 0
    local as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    [ ${#missing[@]} -eq 0 ] || echo "Adding the architectures ${missing[*]}"
    [ ${#unlisted[@]} -eq 0 ] || echo "Fetching the package lists of ${unlisted[*]}"
    for arch in "${missing[@]}"; do
        "${as_root[@]}" dpkg --add-architecture "$arch"
    done
    apt_update "${as_root[@]}"
}

# What building the tool needs.
build_packages=(cmake make g++ pkg-config libstb-dev libseccomp-dev libdeflate-dev)
# What the tests need besides.
test_packages=(googletest libgtest-dev libpng-dev libbenchmark-dev dpkg-dev file groff-base time bc python3-pil
               parallel rsync)
# What building and checking the Debian package needs besides
# (tests/debian/check.sh): debhelper, lintian and autopkgtest, and tzdata
# for the time zone of the second build.
debian_packages=(debhelper lintian autopkgtest tzdata)
# What the checks on other architectures need besides (tests/cross/):
# Debian's cross compilers, qemu for programs and for whole machines (arm,
# s390x, ppc64el, the MIPS pair, and x86 for i386 where this machine's
# kernel can't run it), and cpio for their initramfs. Their libraries and kernels come as packages
# of their own architectures, unpacked, not installed.
cross_packages=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-arm-linux-gnueabi g++-i686-linux-gnu
                g++-s390x-linux-gnu g++-powerpc64le-linux-gnu g++-mips64el-linux-gnuabi64 g++-mipsel-linux-gnu
                qemu-user qemu-system-arm qemu-system-misc qemu-system-x86 qemu-system-ppc qemu-system-mips
                cpio)
