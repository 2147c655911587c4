#!/usr/bin/env bash
# Checks of the Debian package made from the build tree's own binaries.
#   package_checks.sh build   BUILD_DIR WORK_DIR VERSION   packs and unpacks it
#   package_checks.sh CHECK   BUILD_DIR WORK_DIR VERSION [HARDENED]   one check of WORK_DIR/root
# "build" runs first (a ctest fixture); every other check reads what it left.
# HARDENED is "no" when the build tree was compiled without Debian's
# hardening flags (see check_lintian).
set -euo pipefail

check=$1 build_dir=$2 work=$3 version=$4 hardened=${5:-yes}
deb=$work/out/quillmark_${version}_amd64.deb
root=$work/root
app_id=org.quillmark.quillmark
export QUILLMARK_DATA_DIR=$work/data QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

fail() { echo "FAIL: $*" >&2; exit 1; }

run_build() {
  rm -rf "$work" && mkdir -p "$work/out" "$QUILLMARK_DATA_DIR"
  (cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack could not build the package"; }
  [[ -f $deb ]] || { ls "$work/out"; fail "no $(basename "$deb")"; }
  dpkg-deb -x "$deb" "$root"
  dpkg-deb -f "$deb" >"$work/control"
}

# Every file of the package is where Debian looks for it, and nothing else
# (no static libraries, headers or build leftovers) comes along.
check_layout() {
  local expected=(
    usr/bin/quillmark usr/bin/quillmark-cli
    usr/share/quillmark/config.ini usr/share/quillmark/Languages/English.ini
    usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/quillmark.svg
    usr/share/man/man1/quillmark.1.gz usr/share/man/man1/quillmark-cli.1.gz
    usr/share/bash-completion/completions/quillmark-cli
    usr/share/doc/quillmark/copyright usr/share/doc/quillmark/changelog.gz
    usr/share/polkit-1/actions/$app_id.policy
  )
  for path in "${expected[@]}"; do [[ -f $root/$path ]] || fail "missing /$path"; done
  for program in quillmark quillmark-cli; do [[ -x $root/usr/bin/$program ]] || fail "/usr/bin/$program is not executable"; done
  for size in 16 24 32 48 64 128 256; do
    local png=$root/usr/share/icons/hicolor/${size}x$size/apps/quillmark.png
    file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not a ${size}x$size PNG"
  done
  for page in "$root"/usr/share/man/man1/*.gz; do gzip -t "$page" || fail "$page is not gzip"; done
  local stray
  stray=$(cd "$root" && find . -type f ! -path './usr/bin/*' ! -path './usr/share/*')
  [[ -z $stray ]] || fail "files outside /usr/bin and /usr/share: $stray"
  ls "$root"/usr/share/quillmark/Languages/ | grep -qvx '.*\.ini' && fail "not only language files in Languages/"
  # Every language the help menu offers has its help page.
  local language
  for language in "$root"/usr/share/quillmark/Languages/*.ini; do
    language=$(basename "$language" .ini)
    [[ -f $root/usr/share/quillmark/help/$language.html ]] || fail "no help page for $language"
  done
  grep -lE '(src|href)="[a-z]+:' "$root"/usr/share/quillmark/help/*.html && fail "a help page needs the network"
  grep -q '^Section: utils$' "$work/control" || fail "section is not utils"
  local depends
  depends=$(grep '^Depends: ' "$work/control")
  # What the programs link, and the SVG plugins that draw the skin's images.
  for package in libqt6widgets6 libblkid1 libqt6svg6; do
    grep -Eq "[ ,]$package( |,|\$)" <<<"$depends" || fail "Depends lacks $package: $depends"
  done
  grep -Eq '^Recommends: .*catdoc' "$work/control" || fail "Recommends lacks catdoc"
  grep -q '^Maintainer: ' "$work/control" || fail "no Maintainer"
}

# Both programs start from the unpacked package and name the packed version,
# which the AppStream release list names too.
check_versions() {
  local cli app
  cli=$("$root/usr/bin/quillmark-cli" --version)
  [[ $cli == "quillmark-cli $version" ]] || fail "quillmark-cli --version printed '$cli'"
  app=$("$root/usr/bin/quillmark" --version)
  [[ $app == "quillmark $version" ]] || fail "quillmark --version printed '$app'"
  grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo has no release entry for $version"
  local newest
  newest=$(zcat "$root/usr/share/doc/quillmark/changelog.gz" | head -n1)
  [[ $newest == "quillmark ($version) "* ]] || fail "the changelog's newest entry is '$newest', not $version"
}

check_desktop() {
  local entry=$root/usr/share/applications/$app_id.desktop
  desktop-file-validate "$entry" | grep -v ': hint: ' && fail "desktop-file-validate complained"
  desktop-file-validate "$entry" >/dev/null || fail "desktop-file-validate failed"
  local exec icon
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [[ -x $root/usr/bin/$exec ]] || fail "Exec=$exec is not a program of the package"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [[ -f $root/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "Icon=$icon is not in the icon set"
  grep -Eq '^Categories=(.*;)?System;(.*;)?Utility;' "$entry" || fail "Categories lack System and Utility"
}

check_metainfo() {
  local metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
  appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate failed"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch the packaged desktop entry"
}

# "pkexec quillmark" opens the window only through an action that names the
# packaged program and keeps the display (allow_gui).
check_polkit() {
  python3 - "$root" "$app_id" <<'PY' || fail "the polkit action does not let pkexec start the window"
import os, sys, xml.etree.ElementTree as ET
root, app_id = sys.argv[1], sys.argv[2]
policy = ET.parse(f"{root}/usr/share/polkit-1/actions/{app_id}.policy").getroot()
actions = policy.findall("action")
assert [a.get("id") for a in actions] == [app_id], [a.get("id") for a in actions]
notes = {n.get("key"): n.text for n in actions[0].findall("annotate")}
path = notes.get("org.freedesktop.policykit.exec.path")
assert path == "/usr/bin/quillmark" and os.access(root + path, os.X_OK), path
assert notes.get("org.freedesktop.policykit.exec.allow_gui") == "true", notes
assert actions[0].find("defaults/allow_active").text == "auth_admin"
PY
}

# Debian's own check of the package: any error, warning or hardening tag
# fails. Fortify needs an optimised build, which the sanitizer test build is
# not, and that build is not linked with -z now either; for such a build only
# those two tags are left out. scripts/package.sh runs the same check on the
# release package, built with the flags, leaving nothing out.
check_lintian() {
  local leave_out=
  [[ $hardened == yes ]] || leave_out=hardening-no-fortify-functions,hardening-no-bindnow
  bash "$(dirname "$0")/../../packaging/lintian_check.sh" "$deb" "$leave_out" || fail "lintian is not content (above)"
}

render() { zcat "$1" | groff -man -Tutf8 -ww -P-cbou 2>"$work/groff.err"; }

# The pages render without a warning, and name every command and every
# option that the programs' own --help lists.
check_man() {
  local program page text
  for program in quillmark quillmark-cli; do
    page=$root/usr/share/man/man1/$program.1.gz
    text=$(render "$page")
    [[ ! -s $work/groff.err ]] || { cat "$work/groff.err"; fail "$program.1 renders with warnings"; }
    MANWIDTH=80 man -l "$page" >/dev/null 2>"$work/man.err" || fail "man -l $program.1 failed: $(cat "$work/man.err")"
    [[ ! -s $work/man.err ]] || fail "man -l $program.1 warned: $(cat "$work/man.err")"
    for option in $("$root/usr/bin/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
      grep -qF -- "$option" <<<"$text" || fail "$program.1 lacks $option"
    done
  done
  text=$(render "$root/usr/share/man/man1/quillmark-cli.1.gz")
  local cli=$root/usr/bin/quillmark-cli
  for command in $(commands_of "$cli"); do
    grep -qE "^   $command\$" <<<"$text" || fail "quillmark-cli.1 has no section for $command"
    for option in $("$cli" "$command" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
      grep -qF -- "$option" <<<"$text" || fail "quillmark-cli.1 lacks $command $option"
    done
  done
}

commands_of() { "$1" --help | sed -n '/^Subcommands:/,$p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'; }

# What the completion offers after the words typed so far ("" is the word
# being typed), in a bash without any start-up files.
complete_words() {
  bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _quillmark_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$root/usr/share/bash-completion/completions/quillmark-cli" quillmark-cli "$@"
}

check_completion() {
  local script=$root/usr/share/bash-completion/completions/quillmark-cli
  bash --norc --noprofile -c 'source "$1" && complete -p quillmark-cli' _ "$script" | grep -q _quillmark_cli ||
    fail "the completion does not register for quillmark-cli"
  [[ $(complete_words "") == "$(commands_of "$root/usr/bin/quillmark-cli" | sort)" ]] ||
    fail "completing a command offers '$(complete_words "")'"
  mkdir -p "$work/pick/folder" && touch "$work/pick/disk.img"
  local cases=(
    # words typed                      | what must be offered
    "sc|scan"
    "pa|partitions"
    "recover --keep|--keep-paths"
    "-|--help"
    "scan /dev/sdb --de|--deep"
    "list --json --incl|--include-damaged"
    "image -|--out"
    "recover $work/pick/d|$work/pick/disk.img"
    "recover x --out $work/pick/fo|$work/pick/folder"
  )
  local case typed wanted offered
  for case in "${cases[@]}"; do
    typed=${case%%|*} wanted=${case#*|}
    read -ra words <<<"$typed"
    [[ $typed == *" " ]] && words+=("")
    offered=$(complete_words "${words[@]}")
    grep -qxF -- "$wanted" <<<"$offered" || fail "after '$typed' offered '$offered', not '$wanted'"
  done
  # A value that is not a path is not completed as one.
  [[ -z $(complete_words list --category "") ]] || fail "--category completes file names"
}

case $check in
  build) run_build ;;
  layout | versions | desktop | metainfo | man | completion | polkit | lintian) "check_$check" ;;
  *) fail "unknown check $check" ;;
esac
echo "package $check: ok"
