#!/bin/bash
# What a recovery of small deleted files scattered over a large volume costs:
# the bytes the process reads (rchar from /proc/<pid>/io, page cache
# included) against the bytes it writes, and the wall time.
#
#   fat:  a 4 GiB FAT32 image of 512-byte clusters (a 32 MiB FAT) holding
#         600 small files (100 to 800 bytes), each followed by a live 6 MiB
#         filler so that they lie spread over the whole volume; their names
#         are shuffled against their place on disk, so that a recovery in
#         name order jumps about the volume. The small files are deleted.
#   ntfs: the 100,000-file image of bench/ntfs_scan.sh (built by it when
#         missing), all of its deleted files recovered.
#
# Each run scans into a fresh scan folder, then recovers everything found
# from that scan's log; scan and recovery are measured apart. Medians over
# the runs are printed.
#
# Usage: bench/scattered_recovery.sh fat|ntfs [quillmark-cli] [runs] [work-folder]
# Needs mkfs.fat and mtools (fat), or what bench/ntfs_scan.sh needs (ntfs),
# and /usr/bin/time.
set -euo pipefail

KIND=${1:?fat or ntfs}
CLI=${2:-build/quillmark-cli}
RUNS=${3:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
export PATH="$PATH:/sbin:/usr/sbin"
export MTOOLS_SKIP_CHECK=1
[ -x "$CLI" ] || { echo "no quillmark-cli at $CLI" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")

make_fat_image() {
  local image=$1 work=$2
  for tool in mkfs.fat mcopy mdel python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
  done
  echo "building $image (600 scattered small files)..." >&2
  rm -f "$image"
  truncate -s 4G "$image"
  mkfs.fat -F 32 -s 1 -n SCATTER "$image" >/dev/null
  local staging="$work/staging"
  rm -rf "$staging"
  mkdir -p "$staging"
  python3 - "$staging" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(11)
filler = os.path.join(root, "filler.bin")
with open(filler, "wb") as out:
    out.write(rng.randbytes(6 << 20))
names = list(range(600))
rng.shuffle(names)
for i in range(600):
    # Disk order is i; the name the listing sorts by is names[i].
    with open(os.path.join(root, "p%03d.dat" % i), "wb") as out:
        out.write(rng.randbytes(rng.randint(100, 800)))
    os.link(filler, os.path.join(root, "f%03d.bin" % i))
with open(os.path.join(root, "names.txt"), "w") as out:
    out.write("\n".join("s%03d.dat" % n for n in names) + "\n")
PY
  # One call, in this order: each small file is followed by its filler.
  local names
  mapfile -t names < "$staging/names.txt"
  local i
  for i in $(seq 0 599); do mv "$staging/p$(printf '%03d' "$i").dat" "$staging/${names[$i]}"; done
  local args=()
  for i in $(seq 0 599); do args+=("$staging/${names[$i]}" "$staging/f$(printf '%03d' "$i").bin"); done
  mcopy -i "$image" "${args[@]}" ::/
  args=()
  for i in $(seq 0 599); do args+=("::/${names[$i]}"); done
  mdel -i "$image" "${args[@]}"
  rm -rf "$staging"
}

case "$KIND" in
  fat)
    WORK=${4:-/var/tmp/quillmark-scatter-bench}
    IMAGE="$WORK/volume.img"
    mkdir -p "$WORK"
    [ -f "$IMAGE" ] || make_fat_image "$IMAGE" "$WORK"
    ;;
  ntfs)
    WORK=${4:-/var/tmp/quillmark-ntfs-bench}
    IMAGE="$WORK/volume.img"
    [ -f "$IMAGE" ] || "$HERE/ntfs_scan.sh" "$CLI" 1 "$WORK" >&2
    ;;
  *) echo "first argument: fat or ntfs" >&2; exit 2 ;;
esac
OUT=${OUT:-$WORK}

# Runs a command; prints "seconds bytes-read" of it (its shell's rchar takes
# in the waited-for child's).
measure() {
  /usr/bin/time -f '%e' -o "$WORK/time.txt" \
    bash -c '"$@" >/dev/null 2>&1; grep "^rchar" /proc/$$/io | cut -d" " -f2' _ "$@" > "$WORK/rchar.txt"
  echo "$(cat "$WORK/time.txt") $(cat "$WORK/rchar.txt")"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cat "$IMAGE" > /dev/null
: > "$WORK/scan-runs.txt"
: > "$WORK/recover-runs.txt"
for run in $(seq "$RUNS"); do
  rm -rf "$WORK/logs" "$OUT/out"
  mkdir -p "$WORK/logs"
  export QUILLMARK_DATA_DIR="$WORK/logs"
  measure "$CLI" scan "$IMAGE" --quiet >> "$WORK/scan-runs.txt"
  log=$(find "$WORK/logs" -mindepth 1 -maxdepth 1 -type d | head -1)
  [ -n "$log" ] || { echo "the scan left no scan folder in $WORK/logs" >&2; exit 1; }
  measure "$CLI" recover "$IMAGE" --log "$log" --out "$OUT/out" --quiet >> "$WORK/recover-runs.txt"
done
written=$(du -sb --apparent-size "$OUT/out" | cut -f1)
files=$(find "$OUT/out" -type f | wc -l)
for step in scan recover; do
  t=$(cut -d' ' -f1 "$WORK/$step-runs.txt" | median)
  r=$(cut -d' ' -f2 "$WORK/$step-runs.txt" | median)
  printf '%-8s median %7.2f s  read %12d bytes (%s)  (runs: %s)\n' "$step" "$t" "$r" \
    "$(numfmt --to=iec-i --suffix=B "$r")" "$(cut -d' ' -f1 "$WORK/$step-runs.txt" | tr '\n' ' ')"
done
echo "recovered $files files, $written bytes ($(numfmt --to=iec-i --suffix=B "$written"))"
rm -rf "$OUT/out"
