#!/usr/bin/env bash
# The same job as pixremap, done the most efficient honest way by the tools a
# user might pick instead, where installed: ImageMagick (a colour lookup table
# with -clut), GraphicsMagick, libvips (maplut and pngsave) and Pillow
# (Image.point with a table, alpha kept). Each tool's outputs are checked
# against pixremap's, pixel for pixel; a tool that can't do the job, or whose
# pixels differ, is listed as such and not timed as equal.
#
#     bench/compare.sh [IMAGE...]     (RUNS=3 by default; median of the runs)
#
# With no image, it makes 12 MP and 48 MP RGB and RGBA pictures with
# bench/make_images.py. Prints one table: median wall time, CPU time (user +
# system), peak memory, and the two outputs' total size. Needs /usr/bin/time
# and Pillow (python3-pil); run ./run.sh first, so build/pixremap exists.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pixremap=${PIXREMAP_BUILD:-$here/../build}/pixremap  # the build tree to measure
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$pixremap" ] || { echo "compare.sh: build pixremap first (./run.sh)" >&2; exit 1; }

images=("$@")
if [ ${#images[@]} -eq 0 ]; then
    "$here/make_images.py" "$work/images" 4000 3000 photo photo_rgba
    "$here/make_images.py" "$work/images" 8000 6000 photo photo_rgba
    images=("$work"/images/*.png)
fi

# The two maps as lookup tables, in the forms the tools take: 256x1 RGB and
# RGBA images (the alpha column is the identity), and Python lists.
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
def digit(v): return (1000 * (v % 10) + 100 * (v // 10 % 10) + 10 * (v // 100)) % 256
def bit(v): return (int('{:08b}'.format(v)[::-1], 2) << 1) % 256
for name, f in (('digit', digit), ('bit', bit)):
    for mode in ('RGB', 'RGBA'):
        im = Image.new(mode, (256, 1))
        im.putdata([(f(v),) * 3 + ((v,) if mode == 'RGBA' else ()) for v in range(256)])
        im.save('%s/%s_%s.png' % (sys.argv[1], name, mode.lower()))
PY

job_pixremap() { "$pixremap" "$1"; }
job_imagemagick() {
    /usr/bin/convert "$1" -interpolate integer -channel RGB "$work/digit_rgb.png" -clut \
        -write outfirst.png "$work/bit_rgb.png" -clut outsecond.png
}
job_vips() {
    local lut=rgb
    [ "$(vipsheader -f bands "$1")" = 4 ] && lut=rgba
    vips maplut "$1" first.v "$work/digit_$lut.png" &&
        vips pngsave first.v outfirst.png &&
        vips maplut first.v second.v "$work/bit_$lut.png" &&
        vips pngsave second.v outsecond.png && rm -f first.v second.v
}
job_pillow() {
    /usr/bin/python3 - "$1" <<'PY'
import sys
from PIL import Image
def digit(v): return (1000 * (v % 10) + 100 * (v // 10 % 10) + 10 * (v // 100)) % 256
def bit(v): return (int('{:08b}'.format(v)[::-1], 2) << 1) % 256
im = Image.open(sys.argv[1])
keep = list(range(256)) if im.mode == 'RGBA' else []
first = im.point([digit(v) for v in range(256)] * 3 + keep)
first.save('outfirst.png')
first.point([bit(v) for v in range(256)] * 3 + keep).save('outsecond.png')
PY
}

available() {
    case $1 in
    pixremap) return 0 ;;
    imagemagick) [ -x /usr/bin/convert ] ;;
    vips) command -v vips >/dev/null ;;
    pillow) /usr/bin/python3 -c 'import PIL' 2>/dev/null ;;
    esac
}

same_pixels() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
from PIL import Image
a, b = Image.open(sys.argv[1]), Image.open(sys.argv[2])
mode = a.mode
sys.exit(0 if a.size == b.size and a.tobytes() == b.convert(mode).tobytes() else 1)
PY
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %-12s %9s %9s %10s %12s  %s\n' image tool "wall s" "cpu s" "peak MB" "output MB" note
for image in "${images[@]}"; do
    name=$(basename "$image")
    reference=$work/reference
    rm -rf "$reference" && mkdir -p "$reference"
    (cd "$reference" && job_pixremap "$image")
    for tool in pixremap imagemagick vips pillow graphicsmagick; do
        if [ "$tool" = graphicsmagick ]; then
            command -v gm >/dev/null &&
                printf '%-22s %-12s %9s %9s %10s %12s  %s\n' "$name" "$tool" - - - - \
                    "cannot: no per-channel lookup table operation"
            continue
        fi
        available "$tool" || continue
        dir=$work/run_$tool
        : > "$work/times"
        for _ in $(seq "$runs"); do
            rm -rf "$dir" && mkdir -p "$dir"
            (cd "$dir" && /usr/bin/time -f '%e %U %S %M' -a -o "$work/times" \
                bash -c "$(declare -f "job_$tool"); work=$work; pixremap=$pixremap; job_$tool \"\$1\"" _ "$image" \
                >/dev/null 2>&1)
        done
        note=""
        for out in outfirst.png outsecond.png; do
            same_pixels "$reference/$out" "$dir/$out" || note="pixels differ from pixremap's"
        done
        wall=$(awk '{ print $1 }' "$work/times" | median)
        cpu=$(awk '{ print $2 + $3 }' "$work/times" | median)
        peak=$(awk '{ print $4 / 1024 }' "$work/times" | median)
        size=$(( $(stat -c %s "$dir/outfirst.png") + $(stat -c %s "$dir/outsecond.png") ))
        printf '%-22s %-12s %9.2f %9.2f %10.0f %12.1f  %s\n' "$name" "$tool" "$wall" "$cpu" "$peak" \
            "$(echo "$size / 1048576" | bc -l)" "$note"
    done
done
