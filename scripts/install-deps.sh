#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (run as root).
#   scripts/install-deps.sh         the library, its tool, tests and benchmarks
#   scripts/install-deps.sh --all   also clang/libFuzzer, the MinGW-w64 cross compilers and Wine,
#                                   the s390x and aarch64 cross compilers and qemu-user
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config clang-format
          libgtest-dev libgmock-dev libbenchmark-dev libspandsp-dev
          libsndfile1-dev libsoxr-dev libcli11-dev libfmt-dev
          python3 codec2-examples     # audioop as a peer; speech recordings for the tests
          pocketsphinx-testdata       # more voices (concealment quality, tool tests)
          sox libsox-fmt-all          # the tool's pipeline peer
          libpcap-dev tshark)         # zelk-voice extract; its tests compare with tshark
if [[ "${1:-}" == "--all" ]]; then
  packages+=(clang libclang-rt-14-dev g++-mingw-w64-i686 binutils-mingw-w64-i686
             g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine32 wine64)
  packages+=(g++-s390x-linux-gnu g++-aarch64-linux-gnu qemu-user-static)
  # wine32 runs the 32-bit Windows programs and comes from the i386 archive;
  # wine64 runs the x64 ones.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
