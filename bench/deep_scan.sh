#!/bin/bash
# The deep scan of a whole image of random bytes and real files, as whole
# processes, against reading the image with `cat` and against PhotoRec
# carving the same file types:
#
#   cat        cat IMAGE > /dev/null (the page-cache read speed)
#   deep       quillmark-cli scan IMAGE --deep --whole --quiet
#   photorec   photorec /cmd IMAGE ... search, the same file types
#
# PhotoRec runs with its default checks, which cut each file where its
# format ends, so that its files can be compared byte for byte;
# PHOTOREC_PARANOID=no turns them off (faster; every file then runs on to
# the next one found).
#
# Each is run RUNS times in turns from a warm page cache; the median wall
# time, the read rate and the peak resident memory (/usr/bin/time) are
# reported with the ratios to cat and PhotoRec. Then the files of the last
# runs are compared by content: how many of the files placed in the image
# each tool gives back byte for byte, and which of PhotoRec's files we give
# back too (sha256 sets; the list of the others is kept in the work folder).
#
# Usage: bench/deep_scan.sh [quillmark-cli] [GiB] [runs] [work-folder]
#   GiB: image size, 2 by default; "2 8" runs both sizes in turn (the peak
#   memory should stay flat).
#   SKIP_DEEP=1 leaves out quillmark-cli (before the deep scan is built).
# Needs photorec (testdisk), /usr/bin/time, sha256sum and what
# bench/make_deep_image.sh needs.
set -euo pipefail

CLI=${1:-build/quillmark-cli}
GIB=${2:-2}
RUNS=${3:-3}
WORK=${4:-/var/tmp/quillmark-deep-bench}
SKIP_DEEP=${SKIP_DEEP:-0}
if [ "$(wc -w <<< "$GIB")" -gt 1 ]; then
  for size in $GIB; do "$0" "$CLI" "$size" "$RUNS" "$WORK"; done
  exit 0
fi
PHOTOREC_PARANOID=${PHOTOREC_PARANOID:-yes}
# Results go to a tmpfs by default so that writing them does not time the
# disk under /var/tmp.
OUT=${OUT:-/dev/shm/quillmark-deep-bench}
HERE=$(cd "$(dirname "$0")" && pwd)

for tool in photorec /usr/bin/time sha256sum; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install testdisk time)" >&2; exit 2; }
done
if [ "$SKIP_DEEP" != 1 ] && [ ! -x "$CLI" ]; then
  echo "no quillmark-cli at $CLI (SKIP_DEEP=1 runs the rest)" >&2
  exit 2
fi
mkdir -p "$WORK" "$OUT"

IMAGE=$("$HERE/make_deep_image.sh" "$GIB" "$WORK")
MANIFEST="$IMAGE.manifest"
BYTES=$(stat -c %s "$IMAGE")
echo "image: $IMAGE, $((BYTES >> 20)) MiB, $(wc -l < "$MANIFEST") files placed" >&2

# The same file types for PhotoRec: its riff covers avi and wav, mov covers
# mp4, zip covers docx.
PHOTOREC_TYPES="jpg png gif pdf zip mp3 riff mov"
photorec_cmd() {
  local opts="partition_none"
  [ "$PHOTOREC_PARANOID" = no ] && opts="$opts,options,paranoid_no"
  opts="$opts,fileopt,everything,disable"
  for t in $PHOTOREC_TYPES; do opts="$opts,$t,enable"; done
  echo "$opts,search"
}

# One timed run of a command, appending "seconds peak-KiB" to a file.
timed() {
  local into=$1
  shift
  /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
  cat "$WORK/time.txt" >> "$into"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

run_cat() { timed "$WORK/cat.txt" sh -c "cat '$IMAGE' > /dev/null"; }
run_deep() {
  rm -rf "$OUT/logs"
  mkdir -p "$OUT/logs"
  QUILLMARK_DATA_DIR="$OUT/logs" timed "$WORK/deep.txt" "$CLI" scan "$IMAGE" --deep --whole --quiet
}
run_photorec() {
  rm -rf "$OUT/photorec"
  mkdir -p "$OUT/photorec"
  (cd "$OUT/photorec" && timed "$WORK/photorec.txt" photorec /log /d "$OUT/photorec/recup" /cmd "$IMAGE" "$(photorec_cmd)")
}

: > "$WORK/cat.txt"
: > "$WORK/deep.txt"
: > "$WORK/photorec.txt"
cat "$IMAGE" > /dev/null
for run in $(seq "$RUNS"); do
  echo "run $run of $RUNS" >&2
  run_cat
  [ "$SKIP_DEEP" = 1 ] || run_deep
  run_photorec
done

report() {
  local who=$1
  [ -s "$WORK/$who.txt" ] || return 0
  local t m
  t=$(cut -d' ' -f1 "$WORK/$who.txt" | median)
  m=$(cut -d' ' -f2 "$WORK/$who.txt" | sort -n | tail -1)
  awk -v who="$who" -v t="$t" -v m="$m" -v b="$BYTES" -v runs="$(cut -d' ' -f1 "$WORK/$who.txt" | tr '\n' ' ')" \
    'BEGIN { printf "%-9s median %8.2f s  %6.2f GB/s  peak %8d KiB  (runs: %s)\n", who, t, (t > 0 ? b / t / 1e9 : 0), m, runs }'
}
echo "== $((BYTES >> 30)) GiB image, $RUNS runs each; photorec: $(photorec_cmd) =="
report cat
report deep
report photorec
ratio() {
  local a=$1 b=$2
  [ -s "$WORK/$a.txt" ] && [ -s "$WORK/$b.txt" ] || return 0
  awk -v a="$(cut -d' ' -f1 "$WORK/$a.txt" | median)" -v b="$(cut -d' ' -f1 "$WORK/$b.txt" | median)" \
    -v an="$a" -v bn="$b" 'BEGIN { if (a > 0) printf "%s / %s time: %.2f\n", bn, an, b / a }'
}
ratio deep cat
ratio deep photorec

# ---- what was found ----
hashes_of() {
  find "$1" -type f ! -name report.xml ! -name photorec.log -exec sha256sum {} + 2>/dev/null |
    cut -d' ' -f1 | sort -u
}
cut -d' ' -f4 "$MANIFEST" | sort -u > "$WORK/placed.sha"
hashes_of "$OUT/photorec" > "$WORK/photorec.sha"
echo "placed files given back byte for byte:"
echo "  photorec  $(comm -12 "$WORK/placed.sha" "$WORK/photorec.sha" | wc -l) of $(wc -l < "$WORK/placed.sha")"
if [ "$SKIP_DEEP" != 1 ]; then
  rm -rf "$OUT/recovered"
  QUILLMARK_DATA_DIR="$OUT/logs" "$CLI" recover "$IMAGE" --deep --log last --out "$OUT/recovered" --quiet \
    >/dev/null 2>&1 || echo "quillmark-cli recover failed" >&2
  hashes_of "$OUT/recovered" > "$WORK/deep.sha"
  echo "  deep      $(comm -12 "$WORK/placed.sha" "$WORK/deep.sha" | wc -l) of $(wc -l < "$WORK/placed.sha")"
  comm -23 "$WORK/photorec.sha" "$WORK/deep.sha" > "$WORK/photorec-only.sha"
  echo "PhotoRec's files we also give back byte for byte: $(comm -12 "$WORK/photorec.sha" "$WORK/deep.sha" | wc -l) of $(wc -l < "$WORK/photorec.sha")"
  # Which placed files PhotoRec has and we do not, by type.
  echo "placed files PhotoRec gives back and we do not, by type:"
  awk 'NR == FNR { only[$1] = 1; next } ($4 in only) { n[$3]++ } END { for (t in n) printf "  %-5s %d\n", t, n[t] }' \
    "$WORK/photorec-only.sha" "$MANIFEST"
fi
echo "per type, placed files given back by PhotoRec:"
awk 'NR == FNR { got[$1] = 1; next } { all[$3]++; if ($4 in got) n[$3]++ } END { for (t in all) printf "  %-5s %d of %d\n", t, n[t], all[t] }' \
  "$WORK/photorec.sha" "$MANIFEST" | sort
