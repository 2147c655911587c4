#!/usr/bin/env bash
# The user's walk through the window, as real windows on a virtual 1600x1000
# screen at twice the scale (the HiDPI look), in English and German, with
# the image partitions' preview and recovery besides. With a folder given,
# every step is kept there as a screenshot to be looked at.
# Usage: walkthrough_under_xvfb.sh TEST_APP [SCREENSHOT_DIR]
set -euo pipefail

test_app=$1
shots=${2:-${QUILLMARK_SCREENSHOTS:-}}
for tool in xvfb-run xauth; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run" && chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run QUILLMARK_TEST_PLATFORM=xcb QT_SCALE_FACTOR=2
[ -n "$shots" ] && export QUILLMARK_SCREENSHOTS=$shots
xvfb-run -a -s '-screen 0 1600x1000x24' \
  "$test_app" --gtest_filter='InBothLanguages/Walkthrough.*:ImagePartitionWorkflow.*' --gtest_brief=1
