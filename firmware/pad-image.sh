#!/bin/sh
# pad-image.sh: copies an assembled image and pads it with 0xFF (erased
# flash) to an exact size. Run by firmware/CMakeLists.txt to make the 1 MB
# ROM image, so that the first application page is 65.
#
# Usage: pad-image.sh INPUT OUTPUT SIZE
set -eu
[ $# -eq 3 ] || { echo "usage: $0 INPUT OUTPUT SIZE" >&2; exit 2; }
in=$1 out=$2 size=$3
have=$(wc -c < "$in")
if [ "$have" -gt "$size" ]; then
  echo "$in: $have bytes, more than $size" >&2
  exit 1
fi
tmp="$out.tmp"
cp "$in" "$tmp"
head -c $((size - have)) /dev/zero | tr '\000' '\377' >> "$tmp"
mv "$tmp" "$out"
