#!/usr/bin/env bash
# Installing, checked from the outside:
#  - `cmake --install` into a temporary prefix gives bin/pixremap and its
#    manual page, which groff renders without a warning and which carries
#    the project's version;
#  - the installed tool makes, from the example image, the same bytes as
#    the tool in the build tree;
#  - debian/changelog's newest entry is the project's version, and
#    debian/copyright gives pixremap's own files the Expat (MIT) licence
#    with LICENSE's text, which the README names too.
# The Debian package itself is built and checked by tests/debian/check.sh.
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

echo "== debian/"
dpkg-parsechangelog -l "$source/debian/changelog" -S Version | grep -qx "$version" ||
    fail "debian/changelog's newest entry is not version $version"
# The licence, stated alike in LICENSE, the copyright file and the README:
# MIT (Debian's name: Expat) for pixremap's own files, with LICENSE's text.
copyright=$source/debian/copyright
awk '/^Files: \*$/ { own = 1; next } own && /^License:/ { print; exit }' "$copyright" |
    grep -qx "License: Expat" || fail "the copyright file gives pixremap's own files no Expat licence"
licence_text() { tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
expected=$(sed '1,/^Copyright/d' "$source/LICENSE" | licence_text)
actual=$(awk -v RS= 'index($0, "License: Expat\n") == 1 { sub(/^[^\n]*\n/, ""); print }' "$copyright" |
    sed 's/^ \.$//; s/^ //' | licence_text)
[ "$expected" = "$actual" ] || fail "the copyright file's Expat text is not LICENSE's"
grep -q "^Copyright (c) 2026 the pixremap developers$" "$source/LICENSE" || fail "LICENSE names no copyright holder"
grep -qi "MIT licen[cs]e" "$source/README.md" || fail "the README does not state the licence"
echo "package_test: all checks passed"
