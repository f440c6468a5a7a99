#!/usr/bin/env bash
# Installs, through apt, whatever the build and the tests need and this
# machine lacks (Debian 12), and from the npm registry the release tests'
# schema validator into tests/release/node_modules (the versions of its
# package-lock.json). Does nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev llvm lld clang-format googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth imagemagick x11-apps x11-utils xdotool wixl msitools osslsigncode openssl
  softhsm2 libengine-pkcs11-openssl
)

# The bill of materials' schema and validator, for the release tests: never
# installed globally. Node.js 20 and npm come with the machine.
release_checks=$(cd "$(dirname "$0")/.." && pwd)/tests/release
if [ ! -f "$release_checks/node_modules/.package-lock.json" ] ||
  [ "$release_checks/package-lock.json" -nt "$release_checks/node_modules/.package-lock.json" ]; then
  command -v npm >/dev/null || { echo "setup: needs Node.js 20 and npm for the release tests" >&2; exit 1; }
  echo "setup: installing the release tests' validator (npm ci in tests/release)"
  npm ci --prefix "$release_checks" --no-audit --no-fund --ignore-scripts --loglevel=error >/dev/null
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
