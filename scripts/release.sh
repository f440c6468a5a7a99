#!/usr/bin/env bash
# The release in one command: builds the release preset afresh and writes one
# folder with everything that is published:
#   veltrano-mouse-jiggler-<version>-win64.zip           the developers' bundle
#   veltrano-mouse-jiggler-<version>-win64.msi           the per-user installer
#   veltrano-mouse-jiggler-<version>-win64-machine.msi   the per-machine installer
#   veltrano-mouse-jiggler-<version>-sbom.cdx.json       the bill of materials (CycloneDX 1.5)
#   winget/<version>/*.yaml                             the winget manifest, for URL
#   SHA256SUMS                                          every other file's SHA-256 (sha256sum -c)
#
#   scripts/release.sh [--sign] [--out DIR] [--build DIR] URL
#
# URL is where the installers will be downloaded from (the winget manifest
# names URL/<msi>). --sign signs the DLL and the programs before they are
# packaged and the MSIs after (scripts/sign.sh: the certificate from the
# environment); the manifest, the bill of materials and the sums are then
# those of the signed files. The folder is DIR (default build/release/dist),
# the build folder build/release. Time stamps come from SOURCE_DATE_EPOCH,
# else the commit's time, else (outside git) that of CMakeLists.txt: the same
# commit gives the same bytes, unsigned.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sign=OFF
out=""
build=""
url=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sign) sign=ON ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    --build) build=${2:?--build needs a folder}; shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "release: unknown option $1" >&2; exit 2 ;;
    *) [ -z "$url" ] || { echo "release: one URL only" >&2; exit 2; }; url=$1 ;;
  esac
  shift
done
case "$url" in
  https://*) ;;
  "") echo "usage: scripts/release.sh [--sign] [--out DIR] [--build DIR] URL" >&2; exit 2 ;;
  *) echo "release: the URL must be https://, not \"$url\"" >&2; exit 2 ;;
esac
build=$(realpath -m "${build:-$root/build/release}")
out=$(realpath -m "${out:-$build/dist}")
for tool in cmake cpack wixl msiinfo msiextract sha256sum; do
  command -v $tool >/dev/null || { echo "release: needs $tool (scripts/setup.sh installs it)" >&2; exit 2; }
done
if [ $sign = ON ]; then
  command -v osslsigncode >/dev/null || { echo "release: --sign needs osslsigncode" >&2; exit 2; }
  [ -n "${MJ_SIGN_PFX:-}${MJ_SIGN_PKCS11_MODULE:-}" ] ||
    { echo "release: --sign needs a certificate: MJ_SIGN_PFX or MJ_SIGN_PKCS11_MODULE (scripts/sign.sh)" >&2; exit 2; }
fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || stat -c %Y "$root/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH

cd "$root"
cmake --preset release -B "$build" --fresh -DMJ_SIGN=$sign >/dev/null
cmake --build "$build"
cmake --build "$build" --target installer
cpack --config "$build/CPackConfig.cmake" -B "$build/bundle" >/dev/null

rm -rf "$out"
mkdir -p "$out"
version=$(sed -n 's/^-DVERSION=//p' "$build/release/sbom_args.txt")
name=veltrano-mouse-jiggler-$version
cp "$build/bundle/$name-win64.zip" "$build/installer/$name-win64.msi" "$build/installer/$name-win64-machine.msi" "$out/"

mapfile -t sbom_args <"$build/release/sbom_args.txt"
cmake "${sbom_args[@]}" -DOUTPUT="$out/$name-sbom.cdx.json" -DWORK_DIR="$build/release/sbom" \
  "-DPACKAGES=$out/$name-win64.zip;$out/$name-win64.msi;$out/$name-win64-machine.msi" \
  -P cmake/sbom.cmake >/dev/null
MJ_WINGET_DIR="$out/winget" scripts/winget-manifest.sh "$url" "$out/$name-win64.msi" "$out/$name-win64-machine.msi" >/dev/null

(cd "$out" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS &&
  sha256sum --quiet -c SHA256SUMS)
echo "release $version ($([ $sign = ON ] && echo signed || echo unsigned)) in $out:"
(cd "$out" && find . -type f -printf '  %P\n' | LC_ALL=C sort)
