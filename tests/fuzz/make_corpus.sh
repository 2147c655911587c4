#!/usr/bin/env bash
# Builds the seed corpus of every fuzz target under tests/fuzz/corpus/ from
# small real images made with Debian's tools (mkfs.fat, mtools, mkntfs,
# ntfs-3g, sfdisk) and small real files. The corpus is committed; run this
# again only to change it.
#
#   tests/fuzz/make_corpus.sh [path/to/quillmark-cli]
#
# The CLI (default build/dev/quillmark-cli) scans the FAT and NTFS seeds to
# make real scan logs and a history index for the scan log targets.
set -euo pipefail
# Debian's own python3, which has python3-pil.
export PATH=/usr/bin:/usr/sbin:/bin:/sbin:$PATH
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../../build/dev/quillmark-cli}
[[ -x $cli ]] || { echo "make_corpus.sh: $cli: No such file or directory (build quillmark-cli first)" >&2; exit 1; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
corpus=$here/corpus
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 QUILLMARK_DATA_DIR=$work/ScanLog

rm -rf "$corpus"
for t in boot_sector fat_entries fat_quick_scan ntfs_records ntfs_quick_scan signatures \
         deep_fat deep_ntfs scan_log history partitions; do
  mkdir -p "$corpus/$t"
done

# A few small real files of the types the catalogue knows.
python3 - "$work/files" <<'PY'
import io, os, struct, sys, wave, zipfile
from PIL import Image
out = sys.argv[1]
os.makedirs(out)
img = Image.new("RGB", (24, 16))
for x in range(24):
    for y in range(16):
        img.putpixel((x, y), (x * 10, y * 15, (x * y) % 256))
for ext, fmt in [("jpg", "JPEG"), ("png", "PNG"), ("gif", "GIF"), ("bmp", "BMP"),
                 ("tif", "TIFF"), ("ico", "ICO")]:
    img.save(os.path.join(out, "photo." + ext), fmt)
with wave.open(os.path.join(out, "sound.wav"), "wb") as w:
    w.setnchannels(1); w.setsampwidth(1); w.setframerate(8000)
    w.writeframes(bytes((i * 7) % 256 for i in range(3000)))
# MIDI: header chunk and one track with a note.
track = bytes([0, 0x90, 60, 64, 0x60, 0x80, 60, 0, 0, 0xFF, 0x2F, 0])
open(os.path.join(out, "tune.mid"), "wb").write(
    b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track)
# MPEG-1 layer III frames (128 kbit/s, 44.1 kHz): 417 bytes each.
frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
open(os.path.join(out, "song.mp3"), "wb").write(b"ID3\x03\x00\x00\x00\x00\x00\x00" + frame * 6)
# ISO media: ftyp, mdat, moov.
def box(kind, payload): return struct.pack(">I", 8 + len(payload)) + kind + payload
open(os.path.join(out, "clip.mp4"), "wb").write(
    box(b"ftyp", b"isom\x00\x00\x02\x00isomiso2mp41") + box(b"mdat", bytes(700)) +
    box(b"moov", box(b"mvhd", bytes(100))))
open(os.path.join(out, "clip.mov"), "wb").write(
    box(b"ftyp", b"qt  \x00\x00\x02\x00qt  ") + box(b"moov", box(b"mvhd", bytes(100))) +
    box(b"mdat", bytes(300)))
with zipfile.ZipFile(os.path.join(out, "archive.zip"), "w") as z:
    z.writestr("a.txt", "hello " * 50)
    z.writestr("b/c.txt", "world " * 80)
with zipfile.ZipFile(os.path.join(out, "letter.docx"), "w") as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>')
    z.writestr("_rels/.rels", "<Relationships/>")
    z.writestr("word/document.xml", "<w:document>text</w:document>")
open(os.path.join(out, "notes.rtf"), "wb").write(b"{\\rtf1\\ansi Hello}\n")
PY
( cd "$work/files"
  qpdf --empty doc.pdf
  7z a -bso0 -bsp0 pack.7z archive.zip >/dev/null
  gcab -c setup.cab notes.rtf >/dev/null
)
for f in "$work"/files/*; do
  head -c 65536 "$f" > "$corpus/signatures/$(basename "$f")"
done

# FAT12 and FAT16 images with folders, long names, and deleted files and
# folders, as a driver leaves them.
make_fat() {  # image bits sizeKiB
  local image=$1 bits=$2 size=$3
  rm -f "$image"
  mkfs.fat -C -F "$bits" -s 1 -n SEED "$image" "$size" >/dev/null
  mmd -i "$image" ::/Photos ::/Photos/Old ::/Documents
  mcopy -i "$image" "$work/files/photo.jpg" ::/Photos/holiday.jpg
  mcopy -i "$image" "$work/files/photo.png" "::/Photos/Old/A rather long name.png"
  mcopy -i "$image" "$work/files/doc.pdf" ::/Documents/report.pdf
  mcopy -i "$image" "$work/files/archive.zip" ::/archive.zip
  mcopy -i "$image" "$work/files/notes.rtf" ::/notes.rtf
  mdel -i "$image" ::/Photos/holiday.jpg ::/notes.rtf
  mdeltree -i "$image" ::/Photos/Old
}
make_fat "$work/fat12.img" 12 256
make_fat "$work/fat16.img" 16 4200
# Only the part that holds something: boot sector, FATs, root and the first
# clusters. A scan of the cut image meets a volume cut short, which is real.
head -c 32768 "$work/fat12.img" > "$corpus/fat_quick_scan/fat12.bin"
cp "$corpus/fat_quick_scan/fat12.bin" "$corpus/deep_fat/fat12.bin"
fat16_data=$(python3 -c "
import struct,sys; b=open(sys.argv[1],'rb').read(512)
bps,spc,res,nf,root=struct.unpack_from('<HBHBH',b,11); fs=struct.unpack_from('<H',b,22)[0]
print((res+nf*fs+root*32//bps)*bps + 8*spc*bps)" "$work/fat16.img")
head -c "$fat16_data" "$work/fat16.img" > "$corpus/fat_quick_scan/fat16.bin"
# The deep engine without a boot sector: a formatted volume's folders.
python3 - "$work/fat16.img" "$fat16_data" "$corpus/deep_fat/fat16_no_boot.bin" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read(int(sys.argv[2])))
data[0:512] = bytes(512)
open(sys.argv[3], "wb").write(data)
PY
head -c 512 "$work/fat12.img" > "$corpus/boot_sector/fat12.bin"
head -c 512 "$work/fat16.img" > "$corpus/boot_sector/fat16.bin"
mkfs.fat -C -F 32 -s 1 -n SEED32 "$work/fat32.img" 40000 >/dev/null
head -c 512 "$work/fat32.img" > "$corpus/boot_sector/fat32.bin"
# Directory sectors: the root of each image and a sub-directory's first sector.
python3 - "$work/fat12.img" "$work/fat16.img" "$corpus/fat_entries" <<'PY'
import struct, sys
for n, path in enumerate(sys.argv[1:3]):
    d = open(path, "rb").read()
    bps, spc, res, nf, root = struct.unpack_from("<HBHBH", d, 11)
    fs = struct.unpack_from("<H", d, 22)[0]
    root_at = (res + nf * fs) * bps
    open(f"{sys.argv[3]}/root{n}.bin", "wb").write(d[root_at:root_at + root * 32][:2048])
    data_at = root_at + root * 32
    for c in range(8):
        at = data_at + c * spc * bps
        if d[at:at + 11] == b".          ":
            open(f"{sys.argv[3]}/subdir{n}_{c}.bin", "wb").write(d[at:at + 2048])
PY

# NTFS: a 2 MiB volume with 512-byte clusters; its $MFT starts at 16 KiB.
# Files are written and deleted through ntfs-3g when this can mount, else
# written with ntfscp and their records marked deleted by hand.
truncate -s 2M "$work/ntfs.img"
mkntfs -q -F -Q -c 512 -s 512 -H 1 -S 1 -L SEED "$work/ntfs.img" >/dev/null 2>&1
mkdir -p "$work/mnt"
if ntfs-3g "$work/ntfs.img" "$work/mnt" 2>/dev/null; then
  mkdir -p "$work/mnt/Photos/Old" "$work/mnt/Documents"
  cp "$work/files/photo.jpg" "$work/mnt/Photos/holiday.jpg"
  cp "$work/files/photo.png" "$work/mnt/Photos/Old/A rather long name.png"
  cp "$work/files/doc.pdf" "$work/mnt/Documents/report.pdf"
  cp "$work/files/notes.rtf" "$work/mnt/notes.rtf"
  for i in $(seq 1 12); do echo "small file $i" > "$work/mnt/Documents/small$i.txt"; done
  rm -rf "$work/mnt/Photos/holiday.jpg" "$work/mnt/Photos/Old" "$work/mnt/notes.rtf" \
         "$work/mnt/Documents/small3.txt"
  umount "$work/mnt"
else
  for f in photo.jpg doc.pdf notes.rtf; do ntfscp -q "$work/ntfs.img" "$work/files/$f" "$f"; done
fi
head -c 98304 "$work/ntfs.img" > "$corpus/ntfs_quick_scan/ntfs.bin"
cp "$corpus/ntfs_quick_scan/ntfs.bin" "$corpus/deep_ntfs/ntfs.bin"
head -c 512 "$work/ntfs.img" > "$corpus/boot_sector/ntfs.bin"
# Records: the $MFT's start ($MFT, $MFTMirr, ...), the root folder and the
# files, each as the start of a small $MFT.
python3 - "$work/ntfs.img" "$corpus/ntfs_records" <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
mft = 16384
open(f"{sys.argv[2]}/mft_start.bin", "wb").write(d[mft:mft + 8 * 1024])
for n in (5, 64, 65, 66, 67):
    rec = d[mft + n * 1024:mft + (n + 1) * 1024]
    if rec[:4] == b"FILE":
        open(f"{sys.argv[2]}/record{n}.bin", "wb").write(d[mft:mft + 1024] + rec)
PY

# An LZNT1 unit: a record-sized lead (the target reads the rest as one unit)
# followed by a compressed chunk of repeating text.
python3 - "$corpus/ntfs_records/lznt1.bin" <<'PY'
import struct, sys
# Literal "abcdefgh" then back-references copying it: 8 literals, then one
# flag byte with references of length 3 + 13 at offset 8.
body = b"\x00abcdefgh" + b"\x01" + struct.pack("<H", ((8 - 1) << 12) | (16 - 3))
chunk = struct.pack("<H", 0xB000 | (len(body) - 1)) + body
open(sys.argv[1], "wb").write(bytes(1024) + chunk + b"\x00\x00")
PY

# MBR (primary and logical) and GPT tables on small whole disks, headers,
# chains and backup included.
truncate -s 96K "$work/mbr.img"
printf 'label: dos\n8,32,c\n40,32,83\n72,,5\n80,40,83\n128,,7\n' \
  | sfdisk -q "$work/mbr.img" >/dev/null
truncate -s 96K "$work/gpt.img"
printf 'label: gpt\nfirst-lba: 34\n40,48,L\nstart=88, size=48, type=EBD0A0A2-B9E5-4433-87C0-68B6B9AC99C7, name="data"\n' \
  | sfdisk -q "$work/gpt.img" >/dev/null
cp "$work/mbr.img" "$corpus/partitions/mbr.bin"
cp "$work/gpt.img" "$corpus/partitions/gpt.bin"
# A GPT whose primary header is gone: the backup at the end must serve.
python3 - "$work/gpt.img" "$corpus/partitions/gpt_backup_only.bin" <<'PY'
import sys
d = bytearray(open(sys.argv[1], "rb").read())
d[512:1024] = bytes(512)
open(sys.argv[2], "wb").write(bytes(d))
PY

# Scan logs and the history index, made by real scans of the seed images.
for img in "$corpus/fat_quick_scan/fat16.bin" "$corpus/ntfs_quick_scan/ntfs.bin"; do
  "$cli" scan -q "$img" >/dev/null 2>&1 || true
done
"$cli" scan -q --deep "$corpus/fat_quick_scan/fat12.bin" >/dev/null 2>&1 || true
python3 - "$QUILLMARK_DATA_DIR" "$corpus/scan_log" "$corpus/history" <<'PY'
import os, struct, sys
root, logs, hist = sys.argv[1:4]
n = 0
for folder, _, files in sorted(os.walk(root)):
    for f in sorted(files):
        if f.endswith("_Relation") or f.endswith("_DirInfo") or f == "config" or "." in f:
            continue
        base = os.path.join(folder, f)
        if not (os.path.exists(base + "_Relation") and os.path.exists(base + "_DirInfo")):
            continue
        rel = open(base + "_Relation", "rb").read()
        info = open(base + "_DirInfo", "rb").read()
        main = open(base, "rb").read()
        with open(f"{logs}/log{n}.bin", "wb") as out:
            out.write(struct.pack("<II", len(rel), len(info)) + rel + info + main)
        n += 1
config = os.path.join(root, "config")
if os.path.exists(config):
    data = bytearray(open(config, "rb").read())
    # Folders stored under this scan's ScanLog folder become "$S/...", which
    # the target places under its own.
    prefix = root.rstrip("/") + "/"
    for at in range(8, len(data) - 1119, 1120):
        field = data[at + 600:at + 1120]
        text = field.decode("utf-16-le").split("\0")[0]
        if text.startswith(prefix):
            text = "$S/" + text[len(prefix):]
            data[at + 600:at + 1120] = text.encode("utf-16-le").ljust(520, b"\0")
    open(f"{hist}/config.bin", "wb").write(bytes(data))
PY

du -sh "$corpus"
