#!/usr/bin/env bash
# sysroot.sh ARCH DIR: the libraries pixremap, its tests and its boot test
# need for Debian architecture ARCH (arm64, armhf, i386, s390x, ...), taken
# from Debian's own packages for ARCH and unpacked into DIR, without
# installing them: the headers and pkg-config files to build against, and
# the shared libraries (with the C library and its loader) to run with.
#
# Unpacking rather than installing with multiarch keeps the machine's own
# packages out of it: multiarch needs every architecture at the same
# version of each shared package, which a mirror that lags for one
# architecture can't give. Needs ARCH in dpkg's architectures
# (dpkg --add-architecture ARCH; apt-get update), as root; tests/cross/
# check.sh does that.
set -euo pipefail
arch=$1
dir=$2
packages=(libc6 libgcc-s1 libstdc++6
          libseccomp2 libseccomp-dev libdeflate0 libdeflate-dev libstb0 libstb-dev
          zlib1g zlib1g-dev libpng16-16 libpng-dev libgtest-dev libbenchmark1debian libbenchmark-dev)

stamp="$dir/.packages"
want="$arch ${packages[*]}"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0

rm -rf "$dir"
mkdir -p "$dir/debs"
# As root, apt hands downloads to its unprivileged user, who can't write here.
as_root=()
[ "$(id -u)" -eq 0 ] && as_root=(-o APT::Sandbox::User=root)
(cd "$dir/debs" && apt-get download -qq "${as_root[@]}" "${packages[@]/%/:$arch}" >/dev/null)
for deb in "$dir"/debs/*.deb; do
    dpkg-deb -x "$deb" "$dir"
done
rm -rf "$dir/debs"
# Links to absolute paths (mips64el's /lib64/ld.so.1) point into the
# sysroot instead of this machine's own /.
find "$dir" -type l -lname '/*' | while read -r link; do
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$dir$(readlink "$link")")" "$link"
done
echo "$want" >"$stamp"
