#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quorvel need, and 32-bit Wine where
# this machine runs 32-bit programs (on a machine that refuses them, 32-bit Wine beside wine64
# can keep the 64-bit prefix from starting). Idempotent: when every package is present it only
# checks and returns.
set -euo pipefail
cd "$(dirname "$0")/.."

# osslsigncode and openssl sign the DLL (scripts/sign.sh); the font draws the Chinese, Japanese
# and Korean texts in the guide's pictures (scripts/screenshots.sh).
packages=(
  cmake ninja-build binutils
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine64 wine
  xvfb xauth
  googletest
  clang-format
  osslsigncode openssl
  fonts-wqy-microhei
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# The probe needs as and ld (binutils), so the base packages come first.
if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# 32-bit Wine only where the kernel runs 32-bit programs.
runs_32bit=0
scripts/runs_32bit.sh || runs_32bit=$?
if [ "$runs_32bit" -eq 2 ]; then
  exit 1
elif [ "$runs_32bit" -eq 0 ]; then
  if ! installed wine32:i386; then
    echo "setup: installing wine32:i386 (this machine runs 32-bit programs)"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    "${sudo_cmd[@]}" apt-get update -qq || true
    # --no-remove: apt stops rather than trade away a package already here (the cross compilers).
    if ! "${sudo_cmd[@]}" apt-get install -y -qq --no-remove wine32:i386 >/dev/null; then
      echo "setup: could not install wine32:i386 beside the packages here; the i686 tests cannot run" >&2
    fi
  fi
elif installed wine32:i386; then
  echo "setup: this machine cannot run 32-bit programs, yet wine32:i386 is installed: remove it if wine64 fails to start" >&2
else
  echo "setup: this machine cannot run 32-bit programs: 32-bit Wine is not installed and the i686 tests will not run"
fi
