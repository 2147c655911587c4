#!/usr/bin/env python3
"""Writes a program's man page from its own --help and --version with help2man.

The page of a program with sub-commands (--subcommands) also gets a COMMANDS
section with each command's --help, turned into roff here. Hand-written
sections (privileges, files, environment) come from the --include file.
The page is gzipped the way Debian ships man pages.
"""
import argparse
import gzip
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import cli_help  # noqa: E402


def roff(text):
    """Plain text as roff: backslashes escaped, hyphens kept as hyphens (so
    options can be copied from the page), no line read as a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def commands_section(program):
    lines = ["[COMMANDS]"]
    for command in cli_help.run_help(program).subcommands():
        help_ = cli_help.run_help(program, command)
        lines += [f'.SS "{command}"', roff(help_.summary), ".PP",
                  f"\\fBUsage:\\fR {roff(help_.usage)}"]
        for title, entries in help_.sections.items():
            lines += [".PP", f"\\fI{roff(title)}:\\fR"]
            for entry in entries:
                lines += [".TP", f"\\fB{roff(entry.term)}\\fR", roff(entry.description)]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--help2man", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--summary", required=True)
    parser.add_argument("--include", required=True)
    parser.add_argument("--subcommands", action="store_true")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    with open(args.include, encoding="utf-8") as f:
        include = f.read()
    if args.subcommands:
        include += "\n" + commands_section(args.program)

    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", COLUMNS="200")
    with tempfile.TemporaryDirectory() as scratch:
        # help2man names the page after the file it runs: run it by its name.
        link = os.path.join(scratch, args.name)
        os.symlink(os.path.abspath(args.program), link)
        include_file = os.path.join(scratch, "include.h2m")
        with open(include_file, "w", encoding="utf-8") as f:
            f.write(include)
        page = os.path.join(scratch, args.name + ".1")
        subprocess.run([args.help2man, "--no-info", "--section=1", f"--name={args.summary}",
                        f"--include={include_file}", f"--output={page}", link],
                       env=env, check=True, timeout=120)
        with open(page, "rb") as f:
            text = f.read()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    # mtime 0 and no file name inside, as gzip -9n writes it.
    with open(args.output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw,
                                                      compresslevel=9, mtime=0) as out:
        out.write(text)


if __name__ == "__main__":
    main()
