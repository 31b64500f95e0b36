#!/usr/bin/env bash
# check.sh: the Debian package, built and checked as Debian builds and
# checks packages:
#
#  1. the source and binary packages, built with dpkg-buildpackage from a
#     copy of the committed sources (their build dependencies installed
#     with apt-get build-dep), the test suite running during the build
#     (its slow group excluded);
#  2. lintian on both: no error or warning (pedantic and informational
#     tags are shown); and what the binary package holds: the tool, its
#     manual page, changelog, copyright and examples and nothing else,
#     Depends computed from the binary (libc6, libseccomp2, libdeflate0;
#     libstdc++6 exactly when the tool links the shared C++ runtime; never
#     libstb, which is compiled in), Built-Using naming libstb, and the
#     unpacked tool making the packaged examples' outputs byte for byte;
#  3. a second build of the same sources, with nocheck, in another
#     directory, later, under another umask, time zone and locale: every
#     .deb must be byte for byte the first build's;
#  4. the autopkgtests (debian/tests/) on this machine, against the .deb
#     just built: installed with apt-get, and purged after unless it was
#     installed before, so the machine is left as it was.
#
# Run as root or with sudo at hand; needs the packages of
# scripts/packages.sh's debian_packages (./test.sh installs them), tzdata
# among them for the second build's time zone. Works in
# build-debian/ (or $PIXREMAP_DEBIAN_DIR); prints one line per step.
set -euo pipefail
root=$(realpath "$(dirname "$0")/../..")
work=${PIXREMAP_DEBIAN_DIR:-$root/build-debian}
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "debian: $*" >&2
    exit 1
}
seconds() { echo $((SECONDS - $1)); }

# A copy of the committed sources (with the working tree's edits), in DIR.
copy_sources() {
    mkdir -p "$1"
    git -C "$root" ls-files -z | (cd "$root" && tar --null -T - -cf -) | tar -xf - -C "$1"
}

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)

start=$SECONDS
copy_sources "$work/one/pixremap"
# The build dependencies, as debian/control names them.
(cd "$work/one/pixremap" && DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get build-dep -y -qq ./) \
    >"$work/build-dep.log" 2>&1 || { cat "$work/build-dep.log" >&2; fail "apt-get build-dep failed"; }
(cd "$work/one/pixremap" && umask 022 &&
    TZ=UTC LC_ALL=C.UTF-8 DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc) \
    >"$work/one.log" 2>&1 || { tail -n 80 "$work/one.log" >&2; fail "dpkg-buildpackage failed (build-debian/one.log)"; }
tests=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$work/one.log")
[ -n "$tests" ] || fail "the build ran no tests"
echo "debian: built the source and binary packages, $tests tests passed during the build ($(seconds "$start") s)"

start=$SECONDS
lintian --pedantic --display-info --fail-on error,warning \
    "$work/one/pixremap_${version}_$arch.changes" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian found errors or warnings"; }
tags=$(grep -v 'running with root privileges' "$work/lintian.log" || true)
echo "debian: lintian: no errors or warnings ($(seconds "$start") s)${tags:+; pedantic and informational tags:}"
[ -z "$tags" ] || echo "$tags" | sed 's/^/    /'

deb=$work/one/pixremap_${version}_$arch.deb
unpacked=$work/unpacked
dpkg-deb -x "$deb" "$unpacked"
held=$(cd "$unpacked" && find . -type f | sort)
wanted="./usr/bin/pixremap
./usr/share/doc/pixremap/changelog.gz
./usr/share/doc/pixremap/copyright
./usr/share/doc/pixremap/examples/default.png
./usr/share/doc/pixremap/examples/outfirst.png
./usr/share/doc/pixremap/examples/outsecond.png
./usr/share/man/man1/pixremap.1.gz"
[ "$held" = "$wanted" ] || fail "the package holds $(echo $held), not $(echo $wanted)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libseccomp2 libdeflate0; do
    grep -qw "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
if objdump -p "$unpacked/usr/bin/pixremap" | grep -q 'NEEDED *libstdc++'; then
    grep -qw 'libstdc++6' <<<"$depends" || fail "Depends lacks libstdc++6: $depends"
else
    ! grep -q 'libstdc++' <<<"$depends" || fail "Depends names libstdc++6, which is linked in: $depends"
fi
! grep -q 'libstb' <<<"$depends" || fail "Depends names libstb, which is compiled in: $depends"
built_using=$(dpkg-deb -f "$deb" Built-Using)
grep -qx 'libstb (= .*)' <<<"$built_using" || fail "Built-Using does not name libstb: $built_using"
examples=$unpacked/usr/share/doc/pixremap/examples
(cd "$work" && mkdir run && cp "$examples/default.png" run/ && cd run && "$unpacked/usr/bin/pixremap" default.png) ||
    fail "the packaged tool failed on the example image"
for name in outfirst.png outsecond.png; do
    cmp -s "$examples/$name" "$work/run/$name" || fail "the packaged tool's $name is not the packaged example's"
done
echo "debian: the package holds the tool, its manual page, changelog, copyright and examples; Depends: $depends; Built-Using: $built_using"

start=$SECONDS
# A time zone the machine has no data for is UTC to the C library, without
# a word: the second build would be in the first one's zone.
[ -e /usr/share/zoneinfo/Pacific/Kiritimati ] ||
    fail "no time zone data for the second build (/usr/share/zoneinfo/Pacific/Kiritimati; package tzdata)"
copy_sources "$work/two/elsewhere/pixremap-$version"
(cd "$work/two/elsewhere/pixremap-$version" && umask 077 &&
    TZ=Pacific/Kiritimati LC_ALL=C DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
        dpkg-buildpackage -us -uc -b -Pnocheck) \
    >"$work/two.log" 2>&1 || { tail -n 80 "$work/two.log" >&2; fail "the second dpkg-buildpackage failed"; }
compared=0
for deb in "$work"/one/*.deb; do
    name=${deb##*/}
    cmp "$deb" "$work/two/elsewhere/$name" || fail "$name differs between two builds of the same sources"
    compared=$((compared + 1))
done
[ "$compared" -ge 1 ] || fail "no .deb to compare"
echo "debian: reproducible: a second build, elsewhere, later, under umask 077, another time zone and locale, gave the same $compared .deb files byte for byte ($(seconds "$start") s)"

start=$SECONDS
installed_before=$(dpkg-query -W -f='${Status}' pixremap 2>/dev/null | grep -c 'ok installed' || true)
# The .deb is installed here, and autopkgtest runs the tests against what
# is installed. Handed the .deb itself, autopkgtest would serve it from an
# apt source of its own and, on a machine it can't reset (null), update all
# of apt's lists after to take that source away: a mirror caught mid-sync
# fails that update, and the run with it, after the tests have passed.
status=0
{ DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --reinstall \
      "$work/one/pixremap_${version}_$arch.deb" &&
  "${as_root[@]}" autopkgtest --no-built-binaries "$work/one/pixremap/" -- null; } \
    >"$work/autopkgtest.log" 2>&1 || status=$?
after="the package left installed, as it was before"
if [ "$installed_before" -eq 0 ]; then
    "${as_root[@]}" dpkg --purge pixremap >/dev/null 2>&1 || true
    after="the package purged after"
fi
[ "$status" -eq 0 ] || { cat "$work/autopkgtest.log" >&2; fail "the autopkgtests failed"; }
summary=$(sed -n '/@@@@ summary$/,/^autopkgtest/{/@@@@ summary$/d; /^autopkgtest/d; p}' "$work/autopkgtest.log" |
    tr -s ' ' | paste -s -d ',')
echo "debian: autopkgtest: $summary, $after ($(seconds "$start") s)"
