#!/usr/bin/env python3
"""A FAT volume filled the way a real card is, then formatted over.

Writes WORK/tree (the files as they were copied in), WORK/volume.img and
WORK/manifest.tsv (one line per file: "live" or "deleted", size, path from
the volume's root). The volume gets a tree of folders under four top
folders, files with long names in several scripts and with plain 8.3 names,
copied one by one in random order across the folders (so that a folder
that outgrows its first cluster goes on in a cluster far from it), a few
deleted, then `mkfs.fat` over it, with the same or another cluster size.

  make_formatted_fat.py WORK [--size-mib 512] [--fat 32] [--cluster 8]
      [--format-cluster 8] [--files 300] [--big-folder 0] [--camera 0]
      [--deleted 6] [--seed 1]

--big-folder N adds one folder of N files; --camera N makes a camera card
instead: DCIM/100CANON holding N photos IMG_0001.JPG ... Photos are real
JPEG files when cjpeg is installed, else minimal hand-made ones.
Needs mkfs.fat and mtools.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import wave
import zipfile

ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8")

TOP = ["Documents", "Photos", "Music", "Archives"]
# Sub-folder names in several scripts, some of them plain 8.3 names.
SUBS = ["Reports 2023", "Отчёты", "写真", "Ελληνικά", "Receipts", "OLD", "Projects",
        "été à Paris", "Scans", "MISC", "Backups", "Travel notes", "Família", "2022",
        "Drafts", "Archive copy", "Zürich", "Notes", "TMP", "Working set"]
WORDS = ["holiday", "invoice", "report", "Résumé", "Отчёт", "写真", "Φωτογραφία", "meeting",
         "notes", "budget", "plan", "draft", "letter", "Müller", "summary", "overview",
         "scan", "backup", "list", "family"]
KINDS = ["jpg", "jpg", "jpg", "pdf", "docx", "txt", "csv", "html", "zip", "wav", "txt"]


def run(args, **kw):
    subprocess.run(args, check=True, env=ENV, stdout=subprocess.DEVNULL, **kw)


class Maker:
    def __init__(self, rng, tmp):
        self.rng = rng
        self.tmp = tmp
        self.cjpeg = shutil.which("cjpeg")
        self.count = 0

    def noise(self, n):
        return bytes(self.rng.getrandbits(8) for _ in range(n))

    def jpeg(self, width, height):
        self.count += 1
        if self.cjpeg:
            # A smooth picture with a little noise: sizes like a photo's, not like noise.
            ppm = os.path.join(self.tmp, "p.ppm")
            a, b, c = (self.rng.randrange(1, 9) for _ in range(3))
            base = bytes(v & 0x7F for x in range(width) for v in (x * a, x * c, (x + b) * 2))
            low = bytes.maketrans(bytes(range(256)), bytes(v & 0x1F for v in range(256)))
            rows = bytearray()
            for y in range(height):
                shift = bytes.maketrans(bytes(range(256)), bytes((v + y * b) & 0x7F for v in range(256)))
                row = int.from_bytes(base.translate(shift), "big")
                noise = int.from_bytes(self.rng.randbytes(len(base)).translate(low), "big")
                rows += (row + noise).to_bytes(len(base), "big")  # no byte carries: 0x7F + 0x1F < 0x100
            with open(ppm, "wb") as f:
                f.write(b"P6 %d %d 255\n" % (width, height) + rows)
            out = subprocess.run([self.cjpeg, "-quality", str(self.rng.randrange(80, 98)), ppm],
                                 check=True, stdout=subprocess.PIPE).stdout
            return out
        body = bytes(b if b != 0xFF else 0xFE for b in self.noise(width * height // 4))
        return (b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
                b"\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00" + body + b"\xFF\xD9")

    def content(self, kind):
        r = self.rng
        if kind == "jpg":
            return self.jpeg(r.choice([160, 240, 320]), r.choice([120, 180, 240]))
        if kind == "txt":
            return " ".join(r.choice(WORDS) for _ in range(r.randrange(5, 3000))).encode()
        if kind == "csv":
            return "".join("%d;%s;%d\n" % (i, r.choice(WORDS), r.randrange(10**6))
                           for i in range(r.randrange(10, 2000))).encode()
        if kind == "html":
            items = "".join("<li>%s</li>\n" % r.choice(WORDS) for _ in range(r.randrange(5, 800)))
            return ("<!DOCTYPE html>\n<html><body><ul>\n%s</ul></body></html>\n" % items).encode()
        if kind == "pdf":
            text = " ".join(r.choice(WORDS) for _ in range(r.randrange(50, 5000)))
            stream = "BT /F1 12 Tf 72 720 Td (%s) Tj ET" % text.encode("ascii", "replace").decode()
            objs = ["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                    "<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream)]
            out = b"%PDF-1.4\n"
            offsets = []
            for i, o in enumerate(objs, 1):
                offsets.append(len(out))
                out += b"%d 0 obj\n%s\nendobj\n" % (i, o.encode())
            xref = len(out)
            out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
            out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
            out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
            return out
        if kind in ("zip", "docx"):
            path = os.path.join(self.tmp, "z.zip")
            with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
                if kind == "docx":
                    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://'
                               'schemas.openxmlformats.org/package/2006/content-types"/>')
                    z.writestr("word/document.xml", "<w:document>%s</w:document>" %
                               " ".join(r.choice(WORDS) for _ in range(r.randrange(10, 3000))))
                else:
                    for i in range(r.randrange(1, 4)):
                        z.writestr("part%d.bin" % i, self.noise(r.randrange(100, 30000)))
            with open(path, "rb") as f:
                return f.read()
        if kind == "wav":
            path = os.path.join(self.tmp, "a.wav")
            with wave.open(path, "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(1)
                w.setframerate(8000)
                w.writeframes(self.noise(r.randrange(2000, 60000)))
            with open(path, "rb") as f:
                return f.read()
        raise ValueError(kind)


def long_name(rng, kind, used):
    while True:
        if rng.random() < 0.25:
            # A plain 8.3 name, upper case: no long name is written for it.
            name = "%s%03d.%s" % (rng.choice(["IMG", "DOC", "FILE", "A"]), rng.randrange(1000),
                                  kind.upper())
        else:
            words = [rng.choice(WORDS) for _ in range(rng.randrange(1, 5))]
            name = "%s %d.%s" % (" ".join(words), rng.randrange(10000), kind)
        if name.lower() not in used:
            used.add(name.lower())
            return name


def folders_tree(rng, count):
    folders = list(TOP)
    while len(folders) < count:
        parent = rng.choice([f for f in folders if f.count("/") < 2])
        path = parent + "/" + rng.choice(SUBS)
        if path not in folders:
            folders.append(path)
    return folders


def mkfs(image, fat, cluster, label):
    run(["mkfs.fat", "-F", str(fat), "-s", str(cluster), "-n", label, image])


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("work")
    p.add_argument("--size-mib", type=int, default=512)
    p.add_argument("--fat", type=int, default=32, choices=[12, 16, 32])
    p.add_argument("--cluster", type=int, default=8, help="sectors per cluster while filled")
    p.add_argument("--format-cluster", type=int, help="sectors per cluster of the format")
    p.add_argument("--files", type=int, default=300)
    p.add_argument("--folders", type=int, default=40)
    p.add_argument("--big-folder", type=int, default=0)
    p.add_argument("--camera", type=int, default=0)
    p.add_argument("--deleted", type=int, default=6)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    rng = random.Random(a.seed)
    work = os.path.abspath(a.work)
    tree = os.path.join(work, "tree")
    tmp = os.path.join(work, "tmp")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    os.makedirs(tmp, exist_ok=True)
    image = os.path.join(work, "volume.img")
    with open(image, "wb") as f:
        f.truncate(a.size_mib << 20)
    mkfs(image, a.fat, a.cluster, "OLDCARD")
    maker = Maker(rng, tmp)

    files = []  # (folder, name, bytes)
    if a.camera:
        folders = ["DCIM", "DCIM/100CANON"]
        for i in range(1, a.camera + 1):
            files.append(("DCIM/100CANON", "IMG_%04d.JPG" % i,
                          maker.jpeg(rng.choice([320, 480, 640]), rng.choice([240, 360, 480]))))
    else:
        folders = folders_tree(rng, a.folders)
        used = {}
        # Most folders hold a few files, some hold dozens (more than one
        # cluster of entries), as on a real card.
        weights = [rng.choice([1, 2, 3, 4, 6]) for _ in folders]
        for big in rng.sample(range(len(folders)), min(3, len(folders))):
            weights[big] = 40
        weights[0] = max(weights[0], 6)  # files lying directly in the first top folder
        if a.big_folder:
            folders.append("Photos/Camera roll")
        for i in range(a.files + a.big_folder):
            folder = ("Photos/Camera roll" if i >= a.files else
                      rng.choices(folders[:len(weights)], weights)[0])
            kind = "jpg" if i >= a.files else rng.choice(KINDS)
            name = long_name(rng, kind, used.setdefault(folder, set()))
            files.append((folder, name, maker.content(kind)))
        rng.shuffle(files)

    for folder in folders:
        os.makedirs(os.path.join(tree, folder), exist_ok=True)
        run(["mmd", "-i", image, "::/" + folder])
    for folder, name, data in files:
        host = os.path.join(tree, folder, name)
        with open(host, "wb") as f:
            f.write(data)
        run(["mcopy", "-i", image, host, "::/" + folder + "/" + name])
    deleted = set()
    for folder, name, _ in rng.sample(files, min(a.deleted, len(files))) if not a.camera else []:
        run(["mdel", "-i", image, "::/" + folder + "/" + name])
        deleted.add(folder + "/" + name)
    mkfs(image, a.fat, a.format_cluster or a.cluster, "NEWCARD")

    with open(os.path.join(work, "manifest.tsv"), "w", encoding="utf-8") as m:
        for folder, name, data in sorted(files):
            path = folder + "/" + name
            m.write("%s\t%d\t%s\n" % ("deleted" if path in deleted else "live", len(data), path))
    shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
