#!/usr/bin/env python3
"""The deep scan of formatted FAT volumes against The Sleuth Kit and PhotoRec.

For each WORK folder made by scripts/make_formatted_fat.py (volume.img, the
tree of files copied in and manifest.tsv) runs

  quillmark-cli recover volume.img --deep --keep-paths
  tsk_recover -e volume.img, fls -r -p volume.img
  photorec /d ... /cmd volume.img search      (when installed)

and prints per tool how many of the old files it names, how many it gives
back byte for byte, and (for the deep scan) how many of the named files lie
in their own folder: under the folder's own path, where a top folder, whose
name stood in the formatted root, may be a LostFolder<N>, and with the
other files of the same folder.

Usage: bench/fat_formatted_peers.py [--cli build/quillmark-cli] WORK...
"""
import argparse
import collections
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def manifest(work):
    out = []
    with open(os.path.join(work, "manifest.tsv"), encoding="utf-8") as m:
        for line in m:
            state, size, path = line.rstrip("\n").split("\t")
            out.append((path, digest(os.path.join(work, "tree", path))))
    return out


def walk(root):
    """Relative path -> sha256 of every file under root."""
    found = {}
    for base, _, names in os.walk(root):
        for n in names:
            full = os.path.join(base, n)
            found[os.path.relpath(full, root)] = digest(full)
    return found


def figures(files, found):
    hashes = set(found.values())
    names = collections.Counter(os.path.basename(p).lower() for p in found)
    named = sum(1 for p, _ in files if names[os.path.basename(p).lower()] > 0)
    exact = sum(1 for _, h in files if h in hashes)
    return named, exact


def in_own_folder(files, found):
    """Named files lying under their folder's path, with the rest of that folder."""
    by_name = collections.defaultdict(list)
    for p in found:
        by_name[os.path.basename(p).lower()].append(p)
    placed = {}  # original path -> recovered folder
    for path, _ in files:
        for p in by_name.get(os.path.basename(path).lower(), []):
            want = path.split("/")[1:-1]
            got = p.split("/")[:-1]
            if len(got) == len(want) + 1 and [g.lower() for g in got[1:]] == [w.lower() for w in want] \
                    and (got[0].lower() == path.split("/")[0].lower() or got[0].startswith("LostFolder")):
                placed[path] = "/".join(got)
                break
    # A folder's files must all land in one recovered folder.
    homes = collections.defaultdict(collections.Counter)
    for path, folder in placed.items():
        homes[os.path.dirname(path)][folder] += 1
    return sum(1 for path, folder in placed.items()
               if homes[os.path.dirname(path)].most_common(1)[0][0] == folder)


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", **kw)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("--cli", default="build/quillmark-cli")
    p.add_argument("work", nargs="+")
    a = p.parse_args()
    cli = os.path.abspath(a.cli)
    for work in a.work:
        image = os.path.join(work, "volume.img")
        files = manifest(work)
        tmp = tempfile.mkdtemp(prefix="qm-peers-")
        try:
            env = dict(os.environ, QUILLMARK_DATA_DIR=os.path.join(tmp, "data"))
            run([cli, "recover", image, "--deep", "--keep-paths", "-q", "--out",
                 os.path.join(tmp, "qm")], env=env)
            qm = walk(os.path.join(tmp, "qm"))
            run(["tsk_recover", "-e", image, os.path.join(tmp, "tsk")])
            tsk = walk(os.path.join(tmp, "tsk"))
            fls = run(["fls", "-r", "-p", image]).stdout.splitlines()
            fls_names = {line.split("\t", 1)[-1].split("/")[-1].lower() for line in fls if "\t" in line}
            fls_named = sum(1 for path, _ in files if os.path.basename(path).lower() in fls_names)
            rows = [("quillmark deep",) + figures(files, qm), ("tsk_recover -e",) + figures(files, tsk)]
            if shutil.which("photorec"):
                os.makedirs(os.path.join(tmp, "pr"))
                run(["photorec", "/log", "/d", os.path.join(tmp, "pr", "r"), "/cmd", image,
                     "partition_none,fileopt,everything,enable,search"], cwd=tmp)
                rows.append(("photorec",) + figures(files, walk(os.path.join(tmp, "pr"))))
            named_qm = rows[0][1]
            print("%s: %d files" % (work, len(files)))
            for name, named, exact in rows:
                # PhotoRec names files by their place on the disk.
                shown = "   -" if name == "photorec" else "%4d" % named
                print("  %-15s named %s  byte-exact %4d" % (name, shown, exact))
            print("  %-15s named %4d" % ("fls -r -p", fls_named))
            own = in_own_folder(files, qm)
            print("  deep scan: %d of %d named files in their own folder (%.1f %%)"
                  % (own, named_qm, 100.0 * own / max(named_qm, 1)))
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
