#!/usr/bin/env bash
# vendor.sh [CORPUS]: copies into tests/corpus/ the files of the public
# corpus (CORPUS, by default ../shared/corpus from the project's root) that
# every ./test.sh runs, under the same paths; README.md here says what they
# are and under which terms. Run it again to refresh them: it writes the
# same files from the same corpus.
#
# The choice, by variant class rather than one by one:
#  - Pillow's test images of every format but PNG up to 60 KB (bmpsuite's
#    good, bad and questionable bitmaps, GIFs, JPEGs with odd headers,
#    TGAs of every origin and mode, PSDs, PNMs), its PNGs up to 5 KB, and
#    a few larger files that are the only ones of their layout: run-length
#    32-bit TGAs with a right-hand origin, a layered PSD, and the PNGs with
#    a transparent colour;
#  - libjpeg-turbo's images under its BSD licence (a 12-bit JPEG, a 16-bit
#    PGM and PNG, bitmaps);
#  - stb's own PNM test files.
# Left out: the photographs that carry terms of their own in Pillow's
# repository, the JPEG Group's test images (their licence asks for its
# README to travel with them) and files over 1 MB made to time a decoder
# out, which the whole corpus still runs where it is present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$(realpath "${1:-$here/../../../shared/corpus}")
[ -d "$corpus" ] || { echo "vendor.sh: no corpus at $corpus" >&2; exit 1; }

own_terms='^(flower|flower2|sugarshack|chi|iss634|ultrahdr|pil_sample_|xmp_test|icc_profile_big|timeout-)'
picks() {
    (cd "$corpus/pillow" &&
        {
            find . -maxdepth 1 -type f ! -name '*.png' -size -61k -printf '%f\n'
            find . -maxdepth 1 -type f -name '*.png' -size -5121c -printf '%f\n'
            ls rgb32rle*.tga hopper.psd 1_trns.png i_trns.png l_trns.png rgb_trns.png caption_6_33_22.png
        } | grep -Ev "$own_terms" | LC_ALL=C sort -u | sed 's|^|pillow/|')
    printf 'libjpeg-turbo/%s\n' monkey12.jpg monkey16.pgm monkey16.png shira_bird8.bmp \
        vgl_5674_0098.png vgl_6434_0018a.bmp vgl_6548_0026a.bmp
    (cd "$corpus" && find stb/pbm -type f | LC_ALL=C sort)
}

rm -rf "$here/pillow" "$here/libjpeg-turbo" "$here/stb"
picks | while read -r file; do
    mkdir -p "$here/$(dirname "$file")"
    cp "$corpus/$file" "$here/$file"
    chmod 644 "$here/$file"
done
echo "vendor.sh: $(picks | wc -l) files, $(du -sb --exclude='*.md' --exclude='*.sh' "$here" | cut -f1) bytes"
