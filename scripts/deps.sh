#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(
  cmake ninja-build g++           # the build
  libgtest-dev libgmock-dev       # tests
  libbenchmark-dev                # benchmarks
  g++-mingw-w64-x86-64 g++-mingw-w64-i686  # Windows cross builds
  googletest                      # GoogleTest sources, built for the Windows tests
  wine64                          # runs the 64-bit Windows tests
  wine32:i386                     # runs the 32-bit Windows tests (needs the i386 architecture)
  clang libclang-rt-14-dev        # libFuzzer and the sanitizer run-times for fuzzing
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  # 32-bit packages come from the i386 architecture, added once.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
