#!/usr/bin/env bash
# Installing and packaging, checked from the outside:
#  - `cmake --install` into a temporary prefix gives bin/pixremap and its
#    manual page, which groff renders without a warning;
#  - `cpack -G DEB` gives pixremap_VERSION_ARCH.deb, unpacked with
#    `dpkg-deb -x` (never installed), holding the tool, the gzipped manual
#    page, copyright and changelog, with Depends computed from the binary
#    (libc6, libseccomp2, libdeflate0, and libstdc++6 exactly when the
#    tool links the shared C++ runtime; not libstb, which is compiled in)
#    and Built-Using naming libstb;
#  - the copyright file gives pixremap's own files the Expat (MIT) licence
#    with LICENSE's text, which the README names too;
#  - the installed and the unpacked tool make, from the example image, the
#    same bytes as the tool in the build tree.
#
#     package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "package_test: $*" >&2
    exit 1
}

# The outputs a binary makes from the example image, in a directory of their own.
outputs_of() {
    local binary=$1 dir=$2
    mkdir -p "$dir"
    cp "$source/examples/default.png" "$dir/"
    (cd "$dir" && "$binary" default.png) || fail "$binary failed on the example image"
}
outputs_of "$build/pixremap" "$work/expected"
same_outputs() {
    local dir=$1
    for name in outfirst.png outsecond.png; do
        cmp -s "$work/expected/$name" "$dir/$name" || fail "$dir/$name differs from the build tree's"
    done
}

echo "== cmake --install"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
[ -x "$work/prefix/bin/pixremap" ] || fail "no bin/pixremap installed"
page=$work/prefix/share/man/man1/pixremap.1
[ -f "$page" ] || fail "no share/man/man1/pixremap.1 installed"
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
grep -q "\"pixremap $version\"" "$page" || fail "the manual page does not carry version $version"
outputs_of "$work/prefix/bin/pixremap" "$work/installed"
same_outputs "$work/installed"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/pixremap_"$version"_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no pixremap_${version}_ARCH.deb made"
control=$(dpkg-deb -f "$deb")
echo "$control" | grep -q "^Version: $version$" || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libseccomp2 libdeflate0; do
    echo "$depends" | grep -q "\b$needed\b" || fail "Depends lacks $needed: $depends"
done
if objdump -p "$build/pixremap" | grep -q 'NEEDED *libstdc++'; then
    echo "$depends" | grep -q "\blibstdc++6\b" || fail "Depends lacks libstdc++6: $depends"
else
    echo "$depends" | grep -q "libstdc++" && fail "Depends names libstdc++6, which is linked in: $depends"
fi
echo "$depends" | grep -q "libstb" && fail "Depends names libstb, which is compiled in: $depends"
dpkg-deb -f "$deb" Built-Using | grep -q "^libstb (= .*)$" || fail "no Built-Using naming libstb"
dpkg-deb -f "$deb" Maintainer | grep -q "@" || fail "no maintainer"

dpkg-deb -x "$deb" "$work/unpacked"
for file in usr/bin/pixremap usr/share/man/man1/pixremap.1.gz \
            usr/share/doc/pixremap/copyright usr/share/doc/pixremap/changelog.gz; do
    [ -f "$work/unpacked/$file" ] || fail "the package lacks $file"
done
extra=$(cd "$work/unpacked" && find . -type f | sort | grep -v -x -e ./usr/bin/pixremap \
    -e ./usr/share/man/man1/pixremap.1.gz -e ./usr/share/doc/pixremap/copyright \
    -e ./usr/share/doc/pixremap/changelog.gz || true)
[ -z "$extra" ] || fail "the package holds unexpected files: $extra"
zcat "$work/unpacked/usr/share/doc/pixremap/changelog.gz" | head -1 | grep -q "^pixremap ($version)" ||
    fail "the changelog's newest entry is not $version"
# The licence, stated alike in LICENSE, the copyright file and the README:
# MIT (Debian's name: Expat) for pixremap's own files, with LICENSE's text.
copyright=$work/unpacked/usr/share/doc/pixremap/copyright
awk '/^Files: \*$/ { own = 1; next } own && /^License:/ { print; exit }' "$copyright" |
    grep -qx "License: Expat" || fail "the copyright file gives pixremap's own files no Expat licence"
licence_text() { tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
expected=$(sed '1,/^Copyright/d' "$source/LICENSE" | licence_text)
actual=$(awk -v RS= 'index($0, "License: Expat\n") == 1 { sub(/^[^\n]*\n/, ""); print }' "$copyright" |
    sed 's/^ \.$//; s/^ //' | licence_text)
[ "$expected" = "$actual" ] || fail "the copyright file's Expat text is not LICENSE's"
grep -q "^Copyright (c) 2026 the pixremap developers$" "$source/LICENSE" || fail "LICENSE names no copyright holder"
grep -qi "MIT licen[cs]e" "$source/README.md" || fail "the README does not state the licence"
outputs_of "$work/unpacked/usr/bin/pixremap" "$work/from-package"
same_outputs "$work/from-package"
echo "package_test: all checks passed"
