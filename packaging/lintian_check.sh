#!/usr/bin/env bash
# Debian's own check of a built package, stricter than lintian's default:
#   lintian_check.sh DEB [TAG,TAG...]   TAGs are left out of the check
# Prints what lintian says and fails on any error or warning, and on any
# hardening tag: lintian rates the missing bind-now and fortify as info only,
# but a release package must have them.
set -euo pipefail

deb=$1 leave_out=${2:-}
options=(--no-cfg --display-info --tag-display-limit 0)
[[ -n $leave_out ]] && options+=(--suppress-tags "$leave_out")

# lintian reads nothing from the caller's home with --no-cfg, but it may keep
# a cache there; a throwaway home keeps the user's untouched.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# Its exit status is 2 when it found an error, 1 when it could not check.
status=0
said=$(HOME=$home lintian "${options[@]}" "$deb") || status=$?
[[ -n $said ]] && echo "$said"
((status == 0 || status == 2)) || { echo "lintian could not check $deb" >&2; exit 1; }
if grep -Eq '^[EW]: |^I: [^:]+: hardening-' <<<"$said"; then
  echo "lintian: $(basename "$deb") has errors, warnings or missing hardening (above)" >&2
  exit 1
fi
echo "lintian: $(basename "$deb") is clean"
