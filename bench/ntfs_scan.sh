#!/bin/bash
# Quick scan of a large NTFS image compared with The Sleuth Kit's `fls -rd`
# on the same image, in one run.
#
# Builds (once, cached in the work folder) a 4 GiB NTFS image holding about
# 100,000 files in nested folders, a third of them deleted (single files and
# whole folder trees), then times `quillmark-cli scan` and `fls -rd` in turns
# and reports the median wall time and the peak resident memory of each.
#
# Usage: bench/ntfs_scan.sh [quillmark-cli] [runs] [work-folder]
# Needs root, /dev/fuse, ntfs-3g, mkntfs, The Sleuth Kit, python3 and
# /usr/bin/time.
set -euo pipefail

CLI=${1:-build/quillmark-cli}
RUNS=${2:-5}
WORK=${3:-/var/tmp/quillmark-ntfs-bench}
FILES=${FILES:-100000}
IMAGE="$WORK/volume.img"
MOUNT="$WORK/mnt"
export PATH="$PATH:/sbin:/usr/sbin"

for tool in mkntfs ntfs-3g fls python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -x "$CLI" ] || { echo "no quillmark-cli at $CLI" >&2; exit 2; }
mkdir -p "$WORK"

cleanup() { mountpoint -q "$MOUNT" 2>/dev/null && umount "$MOUNT" || true; }
trap cleanup EXIT

make_image() {
  echo "building $IMAGE ($FILES files)..." >&2
  rm -f "$IMAGE"
  truncate -s 4G "$IMAGE"
  mkntfs -q -F -Q -c 4096 "$IMAGE" >/dev/null 2>&1
  mkdir -p "$MOUNT"
  ntfs-3g "$IMAGE" "$MOUNT"
  # 50 top folders, each a chain of 4 nested folders; files spread over
  # the levels; one file in ten large enough to be non-resident.
  python3 - "$MOUNT" "$FILES" <<'PY'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
levels = []
for t in range(50):
    path = os.path.join(root, "top%02d" % t)
    chain = []
    for depth in range(4):
        path = os.path.join(path, "level%d" % depth)
        chain.append(path)
    os.makedirs(path)
    levels.extend(chain)
small, large = b"s" * 200, os.urandom(8192)
files = []
for i in range(total):
    folder = levels[i % len(levels)]
    name = os.path.join(folder, "file%06d.%s" % (i, "bin" if i % 10 == 0 else "txt"))
    with open(name, "wb") as f:
        f.write(large if i % 10 == 0 else small)
    files.append(name)
# A third deleted: every third file, and ten whole trees.
for name in files[::3]:
    if os.path.exists(name):
        os.remove(name)
import shutil
for t in range(0, 50, 5):
    shutil.rmtree(os.path.join(root, "top%02d" % t, "level0", "level1"))
PY
  sync
  umount "$MOUNT"
}

[ -f "$IMAGE" ] || make_image
records=$(fls -rdp "$IMAGE" 2>/dev/null | grep -c '^[-r]/r \*' || true)
echo "image: $IMAGE, $(du -h --apparent-size "$IMAGE" | cut -f1), fls lists $records deleted files" >&2

# One timed run: prints "seconds peak-KiB".
timed() {
  /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1
  cat "$WORK/time.txt"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

: > "$WORK/ours.txt"
: > "$WORK/fls.txt"
for run in $(seq "$RUNS"); do
  rm -rf "$WORK/logs"
  mkdir -p "$WORK/logs"
  QUILLMARK_DATA_DIR="$WORK/logs" timed "$CLI" scan "$IMAGE" >> "$WORK/ours.txt"
  timed fls -rd "$IMAGE" >> "$WORK/fls.txt"
done

for who in ours fls; do
  t=$(cut -d' ' -f1 "$WORK/$who.txt" | median)
  m=$(cut -d' ' -f2 "$WORK/$who.txt" | sort -n | tail -1)
  printf '%-5s median %6.2f s  peak %8d KiB  (runs: %s)\n' "$who" "$t" "$m" \
    "$(cut -d' ' -f1 "$WORK/$who.txt" | tr '\n' ' ')"
done
