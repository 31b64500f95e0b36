# Sourced by run.sh and test.sh: installs the Debian packages named in its
# arguments that are not installed yet, through apt-get (as root, or with
# sudo). Prints nothing when everything is there already.
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
    "${as_root[@]}" apt-get update -qq &&
        "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Adds Debian architectures to dpkg's list, so that apt can fetch their
# packages, and updates apt's lists if it did (as root, or with sudo).
need_architectures() {
    local missing=() arch
    for arch in "$@"; do
        [ "$arch" = "$(dpkg --print-architecture)" ] && continue
        [[ " ${missing[*]} " == *" $arch "* ]] && continue
        dpkg --print-foreign-architectures | grep -qx "$arch" || missing+=("$arch")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    echo "Adding the architectures ${missing[*]}"
    for arch in "${missing[@]}"; do
        "${as_root[@]}" dpkg --add-architecture "$arch"
    done
    "${as_root[@]}" apt-get update -qq
}

# What building the tool needs.
build_packages=(cmake make g++ pkg-config libstb-dev libseccomp-dev libdeflate-dev)
# What the tests need besides.
test_packages=(googletest libgtest-dev libpng-dev libbenchmark-dev dpkg-dev file groff-base time bc python3-pil
               parallel rsync)
# What building and checking the Debian package needs besides
# (tests/debian/check.sh): debhelper, lintian and autopkgtest.
debian_packages=(debhelper lintian autopkgtest)
# What the checks on other architectures need besides (tests/cross/):
# Debian's cross compilers, qemu for programs and for whole machines, and
# cpio for their initramfs. Their libraries and kernels come as packages
# of their own architectures, unpacked, not installed.
cross_packages=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-i686-linux-gnu g++-s390x-linux-gnu
                qemu-user qemu-system-arm qemu-system-misc cpio)
