#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Quiet and quick when everything is present; safe to run again.
set -euo pipefail

packages=(g++ cmake ninja-build ccache python3 libgtest-dev libgmock-dev tmux hyperfine lua5.4
          clang libclang-rt-dev python3-pil lua-dkjson libssl-dev
          libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >/dev/null || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
