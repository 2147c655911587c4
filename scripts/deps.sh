#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Only missing packages are installed; safe to run again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  clang libclang-rt-14-dev
  libblkid-dev libudev-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev libfuse3-dev fuse3
  dosfstools mtools ntfs-3g sleuthkit fdisk e2fsprogs util-linux zip time
  libjpeg-turbo-progs python3-pil p7zip-full gcab qpdf
  # The desktop application and its tests under a virtual display.
  qt6-base-dev libqt6opengl6-dev qt6-tools-dev qt6-svg-dev qt6-multimedia-dev qt6-pdf-dev qt6-image-formats-plugins
  libqt6svg6 qt6-qpa-plugins libarchive-dev xvfb xauth xdotool x11-utils openbox imagemagick fonts-dejavu-core
  # Qt's own texts (file dialogs, standard buttons) in German and the other
  # languages the window offers.
  qt6-translations-l10n
  # In-process playback of previewed audio and video: Qt 6's GStreamer back
  # end (shipped in libqt6multimedia6) and the plugins that decode the usual
  # formats; libjpeg's own decoder tells damaged photos apart.
  libqt6multimedia6 libqt6multimediawidgets6 libjpeg-dev
  # Legacy binary .doc, .xls and .ppt previews (catdoc, xls2csv, catppt).
  catdoc
  # A stand-in for the system's disk service on a private bus, for the tests
  # of reading disks through UDisks2.
  dbus-daemon python3-dbus python3-gi
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  # The Debian package: man pages from --help, icons rendered from the SVG,
  # dependencies from the linked libraries, and the checks of what it installs.
  python3 help2man librsvg2-bin dpkg-dev file desktop-file-utils appstream man-db lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
