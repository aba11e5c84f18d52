#!/bin/bash
# Installs, from Debian's packages, whatever of the build and test tools this machine lacks.
set -euo pipefail
packages=(cmake ninja-build g++ git mingw-w64 mingw-w64-tools wine wine64 libwine-dev
          googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format
          util-linux procps jq xvfb xauth)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
