#!/usr/bin/env bash
# The README's "Many images" recipes, run as written there on a handful of
# images of different formats, one of them not an image (and one name with
# a space): every good image gets its two outputs in its own directory,
# byte for byte what a single run makes; the bad one is reported by
# pixremap's own line and leaves no outputs; the exit status is not 0.
#  - the local GNU parallel recipe, which also keeps a job log;
#  - the same command across machines, with a stand-in for ssh that runs
#    each "remote" command in a directory of its own on this machine;
#  - the xargs form.
#
#     many_images_test.sh BUILD_DIR SOURCE_DIR      (needs parallel and rsync)
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$build:$PATH"
export PARALLEL_HOME="$work/parallel-home"  # no notices, nothing in ~
mkdir -p "$PARALLEL_HOME" && touch "$PARALLEL_HOME/will-cite"

fail() {
    echo "many_images_test: $*" >&2
    exit 1
}

# A command of the README's "Many images" section: its indented line that
# starts with $1.
recipe() {
    awk '/^## Many images/ { on = 1; next } /^## / { on = 0 } on && /^    / { sub(/^    /, ""); print }' \
        "$source/README.md" | grep -F -- "$1" | head -1
}
local_parallel=$(recipe "parallel --joblog")
cluster=$(recipe "parallel --sshloginfile")
local_xargs=$(recipe "printf")
[ -n "$local_parallel" ] && [ -n "$cluster" ] && [ -n "$local_xargs" ] ||
    fail "the README's Many images section lacks a recipe"

good=(rgb.png "grey photo.jpg" palette.bmp rgba_rle.tga grey16.pgm)
put_images() {
    mkdir -p "$1/photos"
    cp "$source/tests/fixtures/rgb.png" "$source/tests/fixtures/palette.bmp" \
       "$source/tests/fixtures/rgba_rle.tga" "$source/tests/fixtures/grey16.pgm" "$1/photos/"
    cp "$source/tests/fixtures/grey.jpg" "$1/photos/grey photo.jpg"
    cp "$source/tests/fixtures/text.png" "$1/photos/bad.png"
}

# What single runs make.
put_images "$work/single"
for name in "${good[@]}"; do
    mkdir -p "$work/single/$name"
    (cd "$work/single/$name" && pixremap "../photos/$name") || fail "a single run on $name failed"
done

# Runs a recipe in a fresh directory and checks what it left.
check() {
    local what=$1 command=$2 dir=$work/$1
    put_images "$dir"
    local status=0
    (cd "$dir" && bash -c "$command") 2> "$dir.err" || status=$?
    [ "$status" -ne 0 ] || fail "$what: exit status 0 though an image failed"
    grep -q "^pixremap: cannot read '[^']*bad.png': " "$dir.err" || fail "$what: the bad image was not reported"
    [ -z "$(ls -A "$dir/out/bad.png" 2>/dev/null)" ] || fail "$what: the bad image left outputs"
    for name in "${good[@]}"; do
        for output in outfirst.png outsecond.png; do
            cmp -s "$work/single/$name/$output" "$dir/out/$name/$output" ||
                fail "$what: out/$name/$output is not what a single run makes"
        done
    done
    echo "$what: $status"
}

check parallel "$local_parallel"
[ ! -e "$work/parallel/out/bad.png" ] || fail "parallel: the bad image left a directory"
[ "$(tail -n +2 "$work/parallel/pixremap.log" | wc -l)" -eq 6 ] || fail "parallel: the job log lacks jobs"
check xargs "$local_xargs"
[ ! -e "$work/xargs/out/bad.png" ] || fail "xargs: the bad image left a directory"

# Across machines: two job slots on a "host" whose commands run in
# $work/remote, as ssh would run them there.
mkdir -p "$work/remote"
cat > "$work/stand-in-ssh" <<SSH
#!/usr/bin/env bash
while [ \$# -gt 0 ]; do case \$1 in -l|-p|-o|-S|-i) shift 2 ;; -*) shift ;; *) break ;; esac; done
shift
[ "\${1:-}" = -- ] && shift
# sshd starts the command with the login shell in SHELL, which parallel's
# worker on the other side runs it with.
SHELL=\$(getent passwd "\$(id -u)" | cut -d: -f7)
export SHELL=\${SHELL:-/bin/sh}
cd "$work/remote" && exec "\$SHELL" -c "\$*"
SSH
chmod +x "$work/stand-in-ssh"
mkdir -p "$work/cluster" && echo "2/stand-in" > "$work/cluster/nodes"
check cluster "${cluster/parallel /parallel --ssh $work/stand-in-ssh }"
[ -z "$(find "$work/remote" -type f)" ] || fail "cluster: files were left on the other machine"
echo "many_images_test: all checks passed"
