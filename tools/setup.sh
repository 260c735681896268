#!/usr/bin/env bash
# Installs every Debian package Lumeno's build, tests and program need (the 32-bit Wine side
# included: the shipping build is the 32-bit one and the tests run it), builds the Xvid bridge DLLs
# for Wine (64- and 32-bit), configures and builds both presets. Idempotent: quick when everything
# is in place.
# Usage: tools/setup.sh [--no-build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  wine wine64 wine64-tools libwine-dev libxvidcore-dev libgtest-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei nsis 7zip
  ffmpeg iproute2 util-linux procps python3 python3-tk python3-pil openssl unzip
)
# The 32-bit Wine, its winelib headers and the 32-bit Xvid library (for the 32-bit bridge) come from
# the i386 architecture. They are installed for the i686 suite only (LUMENO_TEST_I686=1, which
# `tools/test.sh --i686` sets), and only where 32-bit code runs: elsewhere wine32 would even stop
# 64-bit programs from starting, since the wine command then always takes the 32-bit loader.
# (Adding the architecture leaves those packages missing, so the install below runs apt-get update.)
runs_32bit=0
if [ "${LUMENO_TEST_I686:-0}" = 1 ] && tools/runs-32bit.sh 2>/dev/null; then
  runs_32bit=1
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  packages+=(wine32:i386 gcc-multilib libwine-dev:i386 libxvidcore-dev:i386)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Xvid bridges: winelib DLLs that forward to the native libxvidcore, one for each build
# (build/xvid-bridge for x86_64, build/xvid-bridge-32 for i686).
build_bridge() {  # folder, extra winegcc flags
  local dir=$1; shift
  if [ ! -f "$dir/xvidcore.dll" ] || [ tools/xvid-bridge/bridge.c -nt "$dir/xvidcore.dll" ] \
     || [ tools/xvid-bridge/xvidcore.spec -nt "$dir/xvidcore.dll" ]; then
    mkdir -p "$dir"
    winegcc "$@" -shared -O2 -o "$dir/xvidcore.dll.so" tools/xvid-bridge/xvidcore.spec \
      tools/xvid-bridge/bridge.c -lxvidcore
    cp "$dir/xvidcore.dll.so" "$dir/xvidcore.dll"
  fi
}
build_bridge build/xvid-bridge
[ $runs_32bit = 0 ] || build_bridge build/xvid-bridge-32 -m32

[ "${1:-}" = "--no-build" ] && exit 0

for preset in x86_64 i686; do
  if [ ! -f build/$preset/build.ninja ]; then
    cmake --preset $preset >/dev/null
  fi
  cmake --build --preset $preset
done
