#!/usr/bin/env bash
# Builds the release Debian package of both programs, checks it with lintian
# and prints its path as the last line:
#   build/release/quillmark_<version>_amd64.deb
# Everything else (installing, building, lintian's report) goes to stderr, so
# that deb=$(scripts/package.sh) holds only the path.
# Installs what is missing first (apt-get), like the other scripts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh >&2

# Debian's hardening: stack protector, fortified libc calls, read-only
# relocations bound at start (relro, bindnow); PIE is the compiler's default.
# CMake takes the flags on the command line, since the environment is read
# only when a build folder is first configured. CMake passes no CPPFLAGS, so
# _FORTIFY_SOURCE goes in with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
cflags=$(dpkg-buildflags --get CFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_BUILD_TESTS=OFF -DQUILLMARK_BUILD_APP=ON \
  -DQUILLMARK_SANITIZE=OFF -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_C_FLAGS="$cppflags $cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build" -j"$(nproc)" >&2

# cpack names the package it wrote: "CPack: - package: PATH generated."
log=$(cd "$build" && cpack -G DEB) || { echo "$log" >&2; echo "package.sh: cpack could not build the package" >&2; exit 1; }
echo "$log" >&2
deb=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$log" | tail -n1)
[[ -n $deb && -f $deb ]] || { echo "package.sh: cpack named no package it wrote (its output is above)" >&2; exit 1; }

# Debian's own check of the package; an error, a warning or a missing
# hardening flag stops here.
bash packaging/lintian_check.sh "$deb" >&2

echo "$deb"
