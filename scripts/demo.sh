#!/usr/bin/env bash
# The demo: builds a small FAT32 image with Debian's own tools, puts photos
# and documents into folders, deletes some of them the way a real driver
# does, then lets quillmark-cli find and recover them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillmark-cli >/dev/null
cli=$root/$build/quillmark-cli

work=$(mktemp -d /tmp/quillmark-demo.XXXXXX)
export QUILLMARK_DATA_DIR=$work/ScanLog
export MTOOLS_SKIP_CHECK=1
image=$work/sample.img
files=$work/files
mkdir -p "$files"

# A few files with the signatures their names promise.
jpeg() {  # name, size in KiB
  { printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00'
    head -c $(( $2 * 1024 )) /dev/urandom
    printf '\xff\xd9'; } > "$files/$1"
}
png() {
  { printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR'
    head -c $(( $2 * 1024 )) /dev/urandom
    printf 'IEND\xaeB`\x82'; } > "$files/$1"
}
pdf() {
  { printf '%%PDF-1.4\n'; head -c $(( $2 * 1024 )) /dev/urandom | base64; printf '\n%%%%EOF\n'; } > "$files/$1"
}
jpeg "Beach at sunset.jpg" 300
jpeg "Birthday cake.jpg" 180
jpeg "IMG_0042.JPG" 90
png  "Family tree.png" 60
pdf  "Tax return 2025.pdf" 40
printf 'Milk\nEggs\nBread\nCoffee\n' > "$files/Shopping list.txt"
seq 1 20000 | sed 's/^/line /' > "$files/Notes from the meeting.txt"

mkfs.fat -C -F 32 -n DEMO "$image" 65536 >/dev/null
mmd -i "$image" ::/Photos ::/Photos/Holiday ::/Documents
mcopy -i "$image" "$files/Beach at sunset.jpg" "$files/Birthday cake.jpg" ::/Photos/Holiday/
mcopy -i "$image" "$files/IMG_0042.JPG" "$files/Family tree.png" ::/Photos/
mcopy -i "$image" "$files/Tax return 2025.pdf" "$files/Shopping list.txt" \
  "$files/Notes from the meeting.txt" ::/Documents/

# The accident: a folder of photos and two documents are deleted.
mdeltree -i "$image" ::/Photos/Holiday
mdel -i "$image" "::/Documents/Tax return 2025.pdf" "::/Documents/Notes from the meeting.txt"

echo "== Sample image: $image (FAT32, 64 MiB; a photo folder and two documents deleted)"
"$cli" probe "$image"
echo
echo "== What a quick scan finds"
"$cli" list "$image" --tree
echo
echo "== Recovering every deleted file into $work/recovered"
"$cli" recover "$image" --out "$work/recovered"
echo
echo "== Recovered files compared with the originals"
# A deleted short (8.3) name loses its first letter on FAT ("!" stands in
# for it), so files are matched by content.
status=0
declare -A original
for f in "$files"/*; do original[$(sha256sum < "$f" | cut -d' ' -f1)]=$(basename "$f"); done
while IFS= read -r -d '' f; do
  sum=$(sha256sum < "$f" | cut -d' ' -f1)
  if [[ -n ${original[$sum]:-} ]]; then
    echo "  identical to '${original[$sum]}': ${f#"$work/recovered/"}"
  else
    echo "  DIFFERENT from every original: ${f#"$work/recovered/"}"; status=1
  fi
done < <(find "$work/recovered" -type f -print0 | sort -z)

# Worse: the card is formatted. The file system no longer knows any of it;
# a deep scan rebuilds the names from the old directory entries it finds,
# and finds the rest by their content.
mkfs.fat -F 32 -n DEMO "$image" >/dev/null
echo
echo "== After formatting the card: what a deep scan finds"
"$cli" scan "$image" --deep --no-resume --quiet
"$cli" recover "$image" --deep --log last --out "$work/after-format" --quiet >/dev/null
echo
echo "== Files found after the format compared with the originals"
while IFS= read -r -d '' f; do
  sum=$(sha256sum < "$f" | cut -d' ' -f1)
  if [[ -n ${original[$sum]:-} ]]; then
    echo "  identical to '${original[$sum]}': ${f#"$work/after-format/"}"
  else
    echo "  no original (only its start is known): ${f#"$work/after-format/"}"
  fi
done < <(find "$work/after-format" -type f -print0 | sort -z)
echo
echo "Demo folder (remove when done): $work"
exit $status
