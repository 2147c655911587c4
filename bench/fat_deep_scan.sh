#!/bin/bash
# The deep scan of a quick-formatted FAT32 volume full of old files, as a
# whole process, against reading the image with `cat` from the page cache.
#
# Builds (once per size, cached in the work folder) a FAT32 image of GiB
# gibibytes holding FILES files with long names in nested folders (one in
# ten spans several clusters), copied in with one `mcopy -s` and checked
# with `fsck.fat -n`, then formats it again with `mkfs.fat -F 32` over the
# same image. Each run times
#
#   cat    cat IMAGE > /dev/null
#   deep   quillmark-cli scan IMAGE --deep --quiet
#
# and reports the median wall time, the read rate, the ratio to cat and the
# peak resident memory (/usr/bin/time), how many files and folders the deep
# scan's FAT log holds and how many old files its folder tree lists. Give
# two sizes ("4 16") to see whether the peak memory stays flat as the
# volume grows.
#
# Usage: bench/fat_deep_scan.sh [quillmark-cli] [GiB...] [runs] [work-folder]
# Needs mkfs.fat, fsck.fat, mtools, python3 and /usr/bin/time.
set -euo pipefail

CLI=${1:-build/quillmark-cli}
GIB=${2:-4}
RUNS=${3:-3}
WORK=${4:-/var/tmp/quillmark-fat-deep-bench}
FILES=${FILES:-50000}
export PATH="$PATH:/sbin:/usr/sbin"
if [ "$(wc -w <<< "$GIB")" -gt 1 ]; then
  for size in $GIB; do "$0" "$CLI" "$size" "$RUNS" "$WORK"; done
  exit 0
fi

for tool in mkfs.fat fsck.fat mcopy python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -x "$CLI" ] || { echo "no quillmark-cli at $CLI" >&2; exit 2; }
IMAGE="$WORK/formatted-${GIB}g.img"
TREE="$WORK/tree-$FILES"
mkdir -p "$WORK"

# The old volume's files, written to the host once and copied in with one
# mtools call (a few seconds for 50,000 files).
make_tree() {
  rm -rf "$TREE.tmp"
  python3 - "$TREE.tmp" "$FILES" <<'PY'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
folders = []
for t in range(50):
    path = os.path.join(root, "Top folder %02d" % t)
    for depth in range(4):
        path = os.path.join(path, "Nested level %d" % depth)
        os.makedirs(path, exist_ok=True)
        folders.append(path)
small, large = b"s" * 200, os.urandom(20000)
for i in range(total):
    name = "Old file number %06d of the archive.%s" % (i, "bin" if i % 10 == 0 else "txt")
    with open(os.path.join(folders[i % len(folders)], name), "wb") as f:
        f.write(large if i % 10 == 0 else small)
PY
  mv "$TREE.tmp" "$TREE"
}

make_image() {
  [ -d "$TREE" ] || make_tree
  echo "building $IMAGE ($FILES files)..." >&2
  rm -f "$IMAGE"
  truncate -s "${GIB}G" "$IMAGE"
  mkfs.fat -F 32 -n OLDVOLUME "$IMAGE" >/dev/null
  (cd "$TREE" && MTOOLS_SKIP_CHECK=1 mcopy -s -i "$IMAGE" ./* ::/)
  fsck.fat -n "$IMAGE" >/dev/null || { echo "fsck.fat finds the filled image damaged" >&2; exit 1; }
  local listed
  listed=$(MTOOLS_SKIP_CHECK=1 mdir -/ -b -i "$IMAGE" ::/ | grep -c 'Old file number' || true)
  [ "$listed" -eq "$FILES" ] || { echo "the filled image holds $listed of $FILES files" >&2; exit 1; }
  mkfs.fat -F 32 -n NEWVOLUME "$IMAGE" >/dev/null
}

[ -f "$IMAGE" ] || make_image
BYTES=$(stat -c %s "$IMAGE")

timed() {
  local out=$1
  shift
  /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
  cat "$WORK/time.txt" >> "$out"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cat "$IMAGE" > /dev/null
: > "$WORK/cat.txt"
: > "$WORK/deep.txt"
for run in $(seq "$RUNS"); do
  timed "$WORK/cat.txt" cat "$IMAGE"
  rm -rf "$WORK/logs"
  mkdir -p "$WORK/logs"
  QUILLMARK_DATA_DIR="$WORK/logs" timed "$WORK/deep.txt" "$CLI" scan "$IMAGE" --deep --quiet
done

main=$(find "$WORK/logs" -name 'Pro_Fat_*' ! -name '*_Relation' ! -name '*_DirInfo' 2>/dev/null | head -1 || true)
records=$(( $( [ -n "$main" ] && stat -c %s "$main" || echo 0) / 346 ))
# Files the listing reaches through their folders (a record filed under a
# folder the tree never shows would be counted by the log but not here).
listed=$(QUILLMARK_DATA_DIR="$WORK/logs" "$CLI" list "$IMAGE" --tree --log last 2>/dev/null |
         grep -c 'Old file number' || true)
echo "image: $IMAGE, $((BYTES >> 20)) MiB, $FILES old files; the deep FAT log holds $records files and folders;" \
     "$listed old files are listed in its tree"
cat_t=$(cut -d' ' -f1 "$WORK/cat.txt" | median)
for who in cat deep; do
  t=$(cut -d' ' -f1 "$WORK/$who.txt" | median)
  m=$(cut -d' ' -f2 "$WORK/$who.txt" | sort -n | tail -1)
  awk -v w="$who" -v t="$t" -v m="$m" -v b="$BYTES" -v c="$cat_t" 'BEGIN {
    printf "%-5s median %7.2f s  %8.1f MiB/s  %5.0f %% of cat  peak %8d KiB\n", w, t, b / 1048576 / (t > 0 ? t : 1e-9), (t > 0 ? c / t * 100 : 0), m }'
done
