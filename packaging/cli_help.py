"""Reads the --help of quillmark-cli (CLI11's layout) into commands and options.

Shared by the man page and bash completion writers, which are run at build
time so that neither can describe an option the program no longer has.
"""
import os
import re
import subprocess
from dataclasses import dataclass, field

# "  -o,--out TEXT REQUIRED      destination folder": the term, then two or
# more spaces, then its description. A term too long for its column stands
# alone and its description follows on the next, deeper indented line.
_ENTRY = re.compile(r"^  (\S.*?)(?:\s{2,}(\S.*))?$")
_CONTINUATION = re.compile(r"^\s{4,}(\S.*)$")
_VALUE_TYPES = {"TEXT", "INT", "UINT", "FLOAT", "NUMBER", "FILE", "DIR", "PATH"}


@dataclass
class Entry:
    term: str
    description: str = ""

    def names(self):
        """The option's spellings: "-o,--out TEXT REQUIRED" -> ["-o", "--out"]."""
        return [n for n in self.term.split(" ", 1)[0].split(",") if n.startswith("-")]

    def takes_value(self):
        words = self.term.split()
        # "--start UINT:SECTORS": the type, then what it counts.
        return len(words) > 1 and words[1].split(":")[0] in _VALUE_TYPES


@dataclass
class Help:
    summary: str = ""
    usage: str = ""
    sections: dict = field(default_factory=dict)  # "Options" -> [Entry]

    def options(self):
        return self.sections.get("Options", [])

    def positionals(self):
        return self.sections.get("Positionals", [])

    def subcommands(self):
        return [e.term for e in self.sections.get("Subcommands", [])]


def run_help(program, *words):
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", COLUMNS="200")
    result = subprocess.run([program, *words, "--help"], capture_output=True, text=True,
                            env=env, timeout=60, check=True)
    return parse_help(result.stdout)


def parse_help(text):
    help_ = Help()
    section = None
    for line in text.splitlines():
        if not line.strip():
            continue
        if line.startswith("Usage: "):
            help_.usage = line[len("Usage: "):].strip()
        elif not line.startswith(" ") and line.endswith(":"):
            section = help_.sections.setdefault(line[:-1], [])
        elif section is None:
            help_.summary = (help_.summary + " " + line.strip()).strip()
        elif (m := _CONTINUATION.match(line)) and section and not _ENTRY.match(line):
            section[-1].description = (section[-1].description + " " + m.group(1)).strip()
        elif m := _ENTRY.match(line):
            section.append(Entry(m.group(1).strip(), (m.group(2) or "").strip()))
        else:
            raise ValueError(f"unexpected line in --help: {line!r}")
    if not help_.usage:
        raise ValueError("--help printed no Usage line")
    return help_
