#!/usr/bin/env python3
"""The skipped-test report of scripts/test.sh, over a sample ctest JUnit file."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "skipped_tests.py")
SAMPLE = os.path.join(HERE, "skipped_sample.xml")
SUPPORT_HEADER = os.path.join(HERE, "..", "support", "test_support.h")

sys.path.insert(0, os.path.dirname(SCRIPT))
import skipped_tests  # noqa: E402


def run(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                          check=False)


class SkippedTestsReport(unittest.TestCase):
    def test_lists_every_skipped_test_with_its_reason(self):
        self.assertEqual(skipped_tests.skipped_tests(SAMPLE), [
            ("NtfsQuickScan.ListsDeletedFiles", "needs ntfs-3g: not running as root and no /dev/fuse"),
            ("DeepScan.UnreadableSectorsAreSkipped",
             "needs /dev/fuse (or device-mapper) as root: not running as root"),
            ("DocumentView.LegacyWordFile", "catdoc is not installed (apt-get install catdoc)"),
            ("app-close-under-xvfb", "SKIP: xvfb-run is not installed"),
        ])

    def test_reason_from_output(self):
        cases = [
            # (output, fallback, reason)
            ("x.cpp:3: Skipped\nneeds loop devices: not running as root\n\n[  SKIPPED ] A.B (0 ms)\n",
             "", "needs loop devices: not running as root"),
            ("x.cpp:3: Skipped\nffmpeg cannot write a.mkv:\nUnknown encoder\n[  SKIPPED ] A.B\n",
             "", "ffmpeg cannot write a.mkv: Unknown encoder"),
            # A skip without a message: the last line printed.
            ("x.cpp:3: Skipped\n\n[  SKIPPED ] A.B (0 ms)\n", "", "x.cpp:3: Skipped"),
            ("SKIP: xdotool is not installed\n", "SKIP_RETURN_CODE=77", "SKIP: xdotool is not installed"),
            ("", "SKIP_RETURN_CODE=77", "SKIP_RETURN_CODE=77"),
            ("", "", "no reason given"),
        ]
        for output, fallback, reason in cases:
            with self.subTest(output=output):
                self.assertEqual(skipped_tests.skip_reason(output, fallback), reason)

    def test_only_the_capabilities_ci_must_have_are_required(self):
        cases = [
            ("needs ntfs-3g: not running as root", True),
            ("needs ntfs-3g mounts for the NTFS files (the FAT part ran)", True),
            ("needs /dev/fuse (or device-mapper) as root: no /dev/fuse", True),
            ("needs loop devices: no free loop device", True),
            ("catdoc is not installed (apt-get install catdoc)", False),
            ("the temporary folder's disk cannot be told here", False),
            ("QUILLMARK_DISKS fixes the table", False),
        ]
        for reason, required in cases:
            with self.subTest(reason=reason):
                self.assertEqual(skipped_tests.required_in_ci(reason), required)

    def test_the_tags_are_those_the_test_helpers_skip_with(self):
        with open(SUPPORT_HEADER, encoding="utf-8") as f:
            tags = re.findall(r'constexpr char kNeeds\w+\[\] = "([^"]+)";', f.read())
        self.assertEqual(sorted(tags), sorted(skipped_tests.REQUIRED_IN_CI))

    def test_ci_fails_naming_the_test_and_reason(self):
        result = run(SAMPLE, "--ci")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Skipped tests (4):", result.stdout)
        self.assertIn("NtfsQuickScan.ListsDeletedFiles: needs ntfs-3g", result.stderr)
        self.assertIn("DeepScan.UnreadableSectorsAreSkipped: needs /dev/fuse", result.stderr)
        self.assertNotIn("catdoc", result.stderr)

    def test_outside_ci_skips_are_listed_and_pass(self):
        result = run(SAMPLE)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("  app-close-under-xvfb: SKIP: xvfb-run is not installed", result.stdout)

    def test_ci_passes_when_only_optional_tests_skip(self):
        with open(SAMPLE, encoding="utf-8") as f:
            text = f.read()
        optional_only = text.replace("needs ntfs-3g:", "sleuthkit missing:").replace(
            "needs /dev/fuse", "dmsetup missing")
        with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as f:
            f.write(optional_only)
        try:
            result = run(f.name, "--ci")
        finally:
            os.unlink(f.name)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Skipped tests (4):", result.stdout)

    def test_unreadable_results_are_a_clear_error(self):
        result = run(os.path.join(HERE, "no-such-results.xml"), "--ci")
        self.assertEqual(result.returncode, 2)
        self.assertIn("cannot read the test results", result.stderr)
        self.assertNotIn("Traceback", result.stderr)


if __name__ == "__main__":
    unittest.main()
