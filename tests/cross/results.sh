#!/bin/sh
# results.sh PIXREMAP INPUT_ROOT LIST: runs PIXREMAP on each file named in
# LIST (paths relative to INPUT_ROOT), each in a directory of its own,
# and prints one line per file:
#
#   NAME STATUS SHA256-OF-outfirst.png SHA256-OF-outsecond.png MESSAGE
#
# with "-" for an output not written and for no message. The same script
# runs here and, under busybox, on each architecture's own kernel, so that
# the two lists can be compared line for line.
pixremap=$1
input_root=$2
list=$3
work=${TMPDIR:-/tmp}/pixremap-results.$$
while read -r name; do
    rm -rf "$work"
    mkdir -p "$work"
    base=${name##*/}
    cp "$input_root/$name" "$work/$base"
    status=0
    (cd "$work" && exec "$pixremap" "$base" 2>"$work/.message") || status=$?
    line="$name $status"
    for out in outfirst.png outsecond.png; do
        if [ -f "$work/$out" ]; then
            sum=$(sha256sum "$work/$out")
            line="$line ${sum%% *}"
        else
            line="$line -"
        fi
    done
    message=$(head -n 1 "$work/.message")
    echo "$line ${message:--}"
done <"$list"
rm -rf "$work"
