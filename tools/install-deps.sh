#!/usr/bin/env bash
# Installs the Debian packages the engine needs to build, run and test.
# Only missing packages are installed, so a second run costs a second.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libsdl2-dev libx11-dev libglew-dev libfreetype-dev libsoundio-dev libtinyxml2-dev
  libstb-dev liblcms2-dev libglm-dev libcli11-dev libassimp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri xdotool openbox x11-utils imagemagick fonts-liberation
)
if [ "${1:-}" = "--fuzz" ]; then packages+=(clang libclang-rt-dev); fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
