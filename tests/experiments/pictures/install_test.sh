#!/bin/sh
# An install to a prefix of its own, run from another folder: marovel-sim finds
# marovel-pictures for --plot and the pictures for --snapshot and --movie under
# the prefix it lies in; the install still works moved elsewhere; the pictures
# moved out of it are found through $MAROVEL_DATA, and without it the refusal
# names the folders searched.
#   install_test.sh CMAKE BUILD_DIR
set -eu
cmake=$1
build=$2
work=$(mktemp -d /tmp/marovel-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/prefix" --component Unspecified >/dev/null
mkdir "$work/elsewhere"
cd "$work/elsewhere"
unset DISPLAY WAYLAND_DISPLAY MAROVEL_DATA || true

# PNG files begin with these eight bytes.
is_png() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; }

pictures_from() {  # marovel-sim at $1: a plot, a snapshot and a movie's frames
    sim=$1/bin/marovel-sim
    rm -f ./*.png
    "$sim" sweep --scenarios 0 --errors low --ticks 20 --every 10 --plot p.png >/dev/null \
        || fail "$sim sweep --plot failed"
    "$sim" --ticks 2 --snapshot 2:s.png >/dev/null || fail "$sim --snapshot failed"
    "$sim" --ticks 2 --movie m.png >/dev/null || fail "$sim --movie failed"
    for f in p.png s.png m_000001.png m_000003.png; do
        is_png "$f" || fail "$sim wrote no picture $f"
    done
}

pictures_from "$work/prefix"
mv "$work/prefix" "$work/moved"
pictures_from "$work/moved"

# The pictures taken out of the install: found through $MAROVEL_DATA only.
mv "$work/moved/share/marovel" "$work/pictures"
if [ ! -e "/usr/local/share/marovel/map.bmp" ]; then
    if "$work/moved/bin/marovel-sim" --ticks 1 --snapshot 1:x.png 2>err.txt; then
        fail "--snapshot drew without its pictures"
    fi
    grep -q "$work/moved/share/marovel" err.txt || fail "the refusal names no folder: $(cat err.txt)"
fi
MAROVEL_DATA="$work/pictures" "$work/moved/bin/marovel-sim" --ticks 1 --snapshot 1:x.png \
    >/dev/null || fail "--snapshot did not read \$MAROVEL_DATA"
is_png x.png || fail "no snapshot from \$MAROVEL_DATA"
echo "install_test: plot, snapshot and movie from $work/prefix, moved, and from \$MAROVEL_DATA"
