#!/usr/bin/env bash
# Installs every Debian package Lumeno's build, tests and program need, builds the Xvid bridge DLL
# for Wine, configures and builds both presets. Idempotent: quick when everything is in place.
# Usage: tools/setup.sh [--no-build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  wine wine64 wine64-tools libwine-dev libxvidcore-dev libgtest-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei nsis 7zip
  ffmpeg iproute2 util-linux procps python3 python3-tk python3-pil
)
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

# The Xvid bridge: a winelib DLL that forwards to the native libxvidcore.
bridge_dir=build/xvid-bridge
if [ ! -f $bridge_dir/xvidcore.dll ] || [ tools/xvid-bridge/bridge.c -nt $bridge_dir/xvidcore.dll ] \
   || [ tools/xvid-bridge/xvidcore.spec -nt $bridge_dir/xvidcore.dll ]; then
  mkdir -p $bridge_dir
  winegcc -shared -O2 -o $bridge_dir/xvidcore.dll.so tools/xvid-bridge/xvidcore.spec \
    tools/xvid-bridge/bridge.c -lxvidcore
  cp $bridge_dir/xvidcore.dll.so $bridge_dir/xvidcore.dll
fi

[ "${1:-}" = "--no-build" ] && exit 0

for preset in x86_64 i686; do
  if [ ! -f build/$preset/build.ninja ]; then
    cmake --preset $preset >/dev/null
  fi
  cmake --build --preset $preset
done
