#!/bin/bash
# Quick scan of a large FAT32 image compared with The Sleuth Kit's `fls -rd`
# on the same image, in one run; then recovery of everything found compared
# with copying the same bytes with `cp` from the page cache.
#
# Builds (once, cached in the work folder) a sparse 4 GiB FAT32 image holding
# 50,000 small files in 100 folders, written with mtools many files per call;
# half of them are deleted with mdel. Then times `quillmark-cli scan` and
# `fls -rd` in turns and reports the median wall time and peak resident
# memory of each, and times `quillmark-cli recover` against `cp -r` of the
# same files.
#
# Usage: bench/fat_scan.sh [quillmark-cli] [runs] [work-folder]
# Needs mkfs.fat, mtools, The Sleuth Kit, python3 and /usr/bin/time.
set -euo pipefail

CLI=${1:-build/quillmark-cli}
RUNS=${2:-5}
WORK=${3:-/var/tmp/quillmark-fat-bench}
FILES=${FILES:-50000}
FOLDERS=${FOLDERS:-100}
IMAGE="$WORK/volume.img"
# Where recovered files and copies go; a tmpfs (OUT=/dev/shm/...) keeps disk
# write-back out of the recovery figures.
OUT=${OUT:-$WORK}
export PATH="$PATH:/sbin:/usr/sbin"
export MTOOLS_SKIP_CHECK=1

for tool in mkfs.fat mcopy mdel fls python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -x "$CLI" ] || { echo "no quillmark-cli at $CLI" >&2; exit 2; }
mkdir -p "$WORK" "$OUT"

make_image() {
  echo "building $IMAGE ($FILES files in $FOLDERS folders)..." >&2
  rm -f "$IMAGE"
  truncate -s 4G "$IMAGE"
  mkfs.fat -F 32 -n BENCH "$IMAGE" >/dev/null
  local staging="$WORK/staging"
  rm -rf "$staging"
  mkdir -p "$staging"
  # Small files of 200 bytes to 12 KiB, kept as originals for the recovery run.
  python3 - "$staging" "$FILES" "$FOLDERS" <<'PY'
import os, random, sys
root, total, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
for f in range(folders):
    os.makedirs(os.path.join(root, "dir%03d" % f))
for i in range(total):
    size = rng.choice((200, 900, 3000, 12000))
    ext = ("txt", "bin", "dat", "log")[i % 4]
    with open(os.path.join(root, "dir%03d" % (i % folders), "file%05d.%s" % (i, ext)), "wb") as out:
        out.write(rng.randbytes(size))
PY
  for folder in "$staging"/dir*; do
    name=$(basename "$folder")
    mmd -i "$IMAGE" "::/$name"
    mcopy -i "$IMAGE" "$folder"/* "::/$name/"
  done
  # Half deleted: every second file of each folder, in batches per folder.
  for folder in "$staging"/dir*; do
    name=$(basename "$folder")
    (cd "$folder" && ls | awk 'NR % 2 == 1' > "$WORK/deleted.lst")
    mapfile -t gone < "$WORK/deleted.lst"
    args=()
    for f in "${gone[@]}"; do args+=("::/$name/$f"); done
    mdel -i "$IMAGE" "${args[@]}"
    mkdir -p "$WORK/deleted/$name"
    for f in "${gone[@]}"; do mv "$folder/$f" "$WORK/deleted/$name/"; done
  done
}

[ -f "$IMAGE" ] || make_image
records=$(fls -rdp "$IMAGE" 2>/dev/null | grep -c '^[-r]/r \*' || true)
echo "image: $IMAGE, $(du -h --apparent-size "$IMAGE" | cut -f1), fls lists $records deleted files" >&2

# One timed run: prints "seconds peak-KiB".
timed() {
  /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
  cat "$WORK/time.txt"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

report() {
  local who=$1
  local t m
  t=$(cut -d' ' -f1 "$WORK/$who.txt" | median)
  m=$(cut -d' ' -f2 "$WORK/$who.txt" | sort -n | tail -1)
  printf '%-8s median %7.2f s  peak %8d KiB  (runs: %s)\n' "$who" "$t" "$m" \
    "$(cut -d' ' -f1 "$WORK/$who.txt" | tr '\n' ' ')"
}

# Warm the page cache so that both tools read from memory.
cat "$IMAGE" > /dev/null
: > "$WORK/scan.txt"
: > "$WORK/fls.txt"
for run in $(seq "$RUNS"); do
  rm -rf "$WORK/logs"
  mkdir -p "$WORK/logs"
  QUILLMARK_DATA_DIR="$WORK/logs" timed "$CLI" scan "$IMAGE" >> "$WORK/scan.txt"
  timed fls -rd "$IMAGE" >> "$WORK/fls.txt"
done
report scan
report fls

# Recovery of everything found, against cp of the same bytes (the deleted
# originals) from the page cache.
: > "$WORK/recover.txt"
: > "$WORK/cp.txt"
bytes=$(du -sb --apparent-size "$WORK/deleted" | cut -f1)
cat "$IMAGE" > /dev/null
for run in $(seq "$RUNS"); do
  rm -rf "$OUT/out" "$OUT/copy" "$WORK/logs"
  mkdir -p "$WORK/logs"
  QUILLMARK_DATA_DIR="$WORK/logs" timed "$CLI" recover "$IMAGE" --out "$OUT/out" --quiet >> "$WORK/recover.txt"
  find "$WORK/deleted" -type f -exec cat {} + > /dev/null
  timed cp -r "$WORK/deleted" "$OUT/copy" >> "$WORK/cp.txt"
done
report recover
report cp
echo "bytes of deleted files: $bytes"
recovered=$(find "$OUT/out" -type f | wc -l)
echo "files recovered in the last run: $recovered"
rm -rf "$OUT/out" "$OUT/copy"
