#!/usr/bin/env bash
# Installs the Debian packages that a purpose needs: `setup.sh build test`.
# Quiet and quick when everything is present; safe to run again.
#
# One list per purpose, so that `make run` installs only what building kez
# needs: a library that kez links goes under build (with its -dev package),
# a tool that only the tests or the benchmarks use goes under test or bench.
set -euo pipefail

# Building kez: compiler, build tools, the boot library's embedding script;
# then the development packages of the libraries kez links, one a line.
build=(g++ cmake ninja-build ccache python3
  libssl-dev
  libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev
  libcurl4-openssl-dev
)
# make test: unit tests, the terminal harness, the Clang build and fuzzers,
# and the peers that results are checked against.
test=(libgtest-dev libgmock-dev tmux clang libclang-rt-dev python3-pil
  openssl
)
# make bench: the timing tool and the peer programs.
bench=(hyperfine lua5.4 python3-pil lua-dkjson
)

purposes=("$@")
[ ${#purposes[@]} -eq 0 ] && purposes=(build)
missing=()
for purpose in "${purposes[@]}"; do
  case $purpose in build|test|bench) ;; *) echo "setup: unknown purpose $purpose" >&2; exit 2;; esac
  declare -n list=$purpose
  for p in "${list[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >/dev/null || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
