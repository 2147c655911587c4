#!/bin/bash
# Builds the image the deep-scan benchmarks read: N GiB of random bytes with
# a few hundred real files (jpg, png, gif, pdf, zip, docx, mp3, wav, avi,
# mp4) written at sector offsets, as a card that lost its file system holds
# them: each file starts on a sector, the rest of its last sector is zeros,
# and random bytes lie between files.
#
# Writes IMAGE and IMAGE.manifest (one line per file: first sector, size,
# extension, sha256) and keeps both; a second call with the same size only
# prints the path. Deterministic for a given size (seeded).
#
# Usage: bench/make_deep_image.sh [GiB] [work-folder]   (prints the image path)
# Needs python3, ImageMagick, ffmpeg, ghostscript and zip.
set -euo pipefail

GIB=${1:-2}
WORK=${2:-/var/tmp/quillmark-deep-bench}
FILES_PER_TYPE=${FILES_PER_TYPE:-30}
IMAGE="$WORK/deep-${GIB}g.img"
SAMPLES="$WORK/samples"

for tool in python3 convert ffmpeg gs zip; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install imagemagick ffmpeg ghostscript zip)" >&2; exit 2; }
done
mkdir -p "$WORK"

if [ -f "$IMAGE" ] && [ -f "$IMAGE.manifest" ]; then
  echo "$IMAGE"
  exit 0
fi

make_samples() {
  echo "making $FILES_PER_TYPE sample files of each type in $SAMPLES..." >&2
  rm -rf "$SAMPLES"
  mkdir -p "$SAMPLES"
  local i w h secs
  for i in $(seq "$FILES_PER_TYPE"); do
    w=$((160 + (i * 97) % 1400)); h=$((120 + (i * 61) % 1000)); secs=$((1 + i % 7))
    convert -seed "$i" -size "${w}x${h}" plasma:fractal -quality $((60 + i % 35)) "$SAMPLES/p$i.jpg"
    convert -seed "$((i + 500))" -size "$((w / 2))x$((h / 2))" plasma:fractal "$SAMPLES/p$i.png"
    convert -seed "$((i + 900))" -size "$((w / 3))x$((h / 3))" plasma:fractal "$SAMPLES/p$i.gif"
    gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o "$SAMPLES/d$i.pdf" -c \
      "/Helvetica findfont 14 scalefont setfont 1 1 $((1 + i % 9)) { 72 700 moveto (Benchmark page ) show 3 string cvs show ( of document $i) show showpage } for"
    python3 - "$SAMPLES" "$i" <<'PY'
import random, sys, zipfile
folder, i = sys.argv[1], int(sys.argv[2])
rng = random.Random(i)
words = "disk sector volume cluster record folder carve image header footer".split()
text = lambda n: " ".join(rng.choice(words) for _ in range(n))
# A ZIP of text and incompressible parts.
with zipfile.ZipFile(f"{folder}/a{i}.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for k in range(1 + i % 5):
        z.writestr(f"notes/part{k}.txt", text(2000 + 500 * k))
        z.writestr(f"data/blob{k}.bin", rng.randbytes(20000 * (1 + k)))
# A minimal Word document.
body = "".join(f"<w:p><w:r><w:t>{text(40)}</w:t></w:r></w:p>" for _ in range(20 + 10 * (i % 7)))
with zipfile.ZipFile(f"{folder}/w{i}.docx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml",
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
        '</Types>')
    z.writestr("_rels/.rels",
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
        '</Relationships>')
    z.writestr("word/document.xml",
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
        f'<w:body>{body}</w:body></w:document>')
PY
    ffmpeg -v error -y -f lavfi -i "sine=frequency=$((200 + 40 * i)):duration=$secs" \
      -c:a libmp3lame -b:a 128k -write_id3v1 1 -metadata title="tone $i" "$SAMPLES/s$i.mp3"
    ffmpeg -v error -y -f lavfi -i "sine=frequency=$((300 + 30 * i)):duration=$secs" "$SAMPLES/s$i.wav"
    ffmpeg -v error -y -f lavfi -i "testsrc=duration=$secs:size=320x240:rate=25" \
      -c:v mpeg4 -q:v 5 "$SAMPLES/v$i.avi"
    ffmpeg -v error -y -f lavfi -i "testsrc2=duration=$secs:size=320x240:rate=25" \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p "$SAMPLES/v$i.mp4"
  done
}

[ -d "$SAMPLES" ] && [ "$(ls "$SAMPLES" | wc -l)" -eq $((FILES_PER_TYPE * 10)) ] || make_samples

echo "writing $IMAGE ($GIB GiB)..." >&2
python3 - "$SAMPLES" "$IMAGE" "$GIB" <<'PY'
import hashlib, os, random, sys
samples, image, gib = sys.argv[1], sys.argv[2], int(sys.argv[3])
SECTOR = 512
total = gib << 30
rng = random.Random(20261210 + gib)
files = sorted(os.listdir(samples))
rng.shuffle(files)
# Spread the files over the whole image: equal strides with some jitter,
# whole sectors of random bytes between them.
stride = total // (len(files) + 1) // SECTOR
tmp = image + ".part"
with open(tmp, "wb") as out:
    manifest = []
    at = 0
    for k, name in enumerate(files):
        data = open(os.path.join(samples, name), "rb").read()
        start = (k + 1) * stride + rng.randrange(stride // 4)
        gap = start * SECTOR - at
        while gap > 0:
            n = min(gap, 8 << 20)
            out.write(rng.randbytes(n))
            gap -= n
        out.write(data)
        tail = -len(data) % SECTOR
        out.write(bytes(tail))
        at = start * SECTOR + len(data) + tail
        ext = name.rsplit(".", 1)[1]
        manifest.append(f"{start} {len(data)} {ext} {hashlib.sha256(data).hexdigest()}")
    while at < total:
        n = min(total - at, 8 << 20)
        out.write(rng.randbytes(n))
        at += n
with open(image + ".manifest", "w") as m:
    m.write("\n".join(manifest) + "\n")
os.replace(tmp, image)
PY
echo "$IMAGE"
