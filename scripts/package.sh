#!/usr/bin/env bash
# Builds the release Debian package of both programs:
#   build/release/quillmark_<version>_amd64.deb
# Installs what is missing first (apt-get), like the other scripts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_BUILD_TESTS=OFF -DQUILLMARK_BUILD_APP=ON \
  -DQUILLMARK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
# cpack names the package it wrote: "CPack: - package: PATH generated."
(cd "$build" && cpack -G DEB) | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p'
