#!/usr/bin/env python3
"""Lists the tests that skipped in a ctest run, with the reason each gave.

    scripts/skipped_tests.py JUNIT_XML [--ci]

JUNIT_XML is what `ctest --output-junit` wrote. With --ci the run fails
(exit 1) when a test skipped for want of something a CI runner must have:
its skip message then begins with one of REQUIRED_IN_CI (the test helpers
in tests/support word them that way). Any other skip, a missing optional
tool for instance, is listed but passes. Exit 2 when the file cannot be
read.
"""

import argparse
import sys
import xml.etree.ElementTree as ET

# Skip messages of the capabilities a CI runner must have, as the test
# helpers begin them: NTFS images written through ntfs-3g, FUSE-served
# sources that fail reads on purpose, and loop devices.
REQUIRED_IN_CI = ("needs ntfs-3g", "needs /dev/fuse", "needs loop devices")

# How GoogleTest marks a skip: "<file>:<line>: Skipped", the message, then
# "[  SKIPPED ] <test>".
GTEST_SKIPPED_AT = ": Skipped"
GTEST_SKIPPED_END = "[  SKIPPED ]"


def skip_reason(output, fallback):
    """The message a skipped test gave: GoogleTest's skip message, else the
    last line a script printed (such as "SKIP: xvfb-run is not installed")."""
    lines = [line.strip() for line in output.splitlines()]
    for i, line in enumerate(lines):
        if not line.endswith(GTEST_SKIPPED_AT):
            continue
        message = []
        for text in lines[i + 1:]:
            if text.startswith(GTEST_SKIPPED_END):
                break
            if text:
                message.append(text)
        if message:
            return " ".join(message)
    printed = [line for line in lines if line and not line.startswith(GTEST_SKIPPED_END)]
    if printed:
        return printed[-1]
    return fallback or "no reason given"


def skipped_tests(junit_path):
    """(test name, reason) for every test that did not run, in file order."""
    root = ET.parse(junit_path).getroot()
    skipped = []
    for case in root.iter("testcase"):
        marker = case.find("skipped")
        if marker is None and case.get("status") not in ("notrun", "disabled"):
            continue
        output = case.findtext("system-out") or ""
        fallback = marker.get("message", "") if marker is not None else case.get("status", "")
        skipped.append((case.get("name", "?"), skip_reason(output, fallback)))
    return skipped


def required_in_ci(reason):
    return reason.lower().startswith(REQUIRED_IN_CI)


def main(argv):
    parser = argparse.ArgumentParser(description="List the tests a ctest run skipped.")
    parser.add_argument("junit", help="the file `ctest --output-junit` wrote")
    parser.add_argument("--ci", action="store_true",
                        help="fail when a test skipped for want of " + ", ".join(REQUIRED_IN_CI))
    args = parser.parse_args(argv)

    try:
        skipped = skipped_tests(args.junit)
    except (OSError, ET.ParseError) as error:
        print(f"skipped_tests: cannot read the test results in {args.junit}: {error}\n"
              "  Run ctest with --output-junit first (scripts/test.sh does).", file=sys.stderr)
        return 2

    if not skipped:
        print("Skipped tests: none.")
        return 0
    print(f"Skipped tests ({len(skipped)}):")
    for name, reason in skipped:
        print(f"  {name}: {reason}")

    missing = [(name, reason) for name, reason in skipped if required_in_ci(reason)]
    if args.ci and missing:
        sys.stdout.flush()  # the list first, also where both streams go to one log
        print(f"\nCI must run these {len(missing)} test(s), but they skipped:", file=sys.stderr)
        for name, reason in missing:
            print(f"  {name}: {reason}", file=sys.stderr)
        print("Give the CI runner root, /dev/fuse, ntfs-3g and loop devices "
              "(a privileged container), or run it on a full machine.", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
