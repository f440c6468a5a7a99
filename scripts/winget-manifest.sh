#!/usr/bin/env bash
# Writes the three files of a winget manifest (schema 1.6.0: version,
# defaultLocale, installer) for a release whose installers are published at
# URL, from the MSIs themselves: version, SHA-256, ProductCode, UpgradeCode,
# scope (user or machine, from the package's ALLUSERS), silent switches and
# the upgrade behaviour. One installer entry per MSI.
#
#   scripts/winget-manifest.sh URL [MSI...]
#
# URL is the folder of the release's downloads (each MSI is URL/<its file
# name>). Without MSIs it takes the two that `cmake --workflow --preset
# installer` writes in build/release/installer. The files go to
# $MJ_WINGET_DIR/<version>/ (default build/release/winget). Needs msitools
# (msiinfo) and sha256sum.
set -euo pipefail

id=Veltrano.MouseJiggler
schema=1.6.0

if [ $# -lt 1 ] || [ -z "$1" ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
  echo "usage: scripts/winget-manifest.sh URL [MSI...]" >&2
  exit 2
fi
url=${1%/}
shift
case "$url" in
  https://*) ;;
  *) echo "winget-manifest: the URL must be https://, not \"$url\"" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
msis=("$@")
if [ ${#msis[@]} -eq 0 ]; then
  mapfile -t msis < <(ls "$root"/build/release/installer/veltrano-mouse-jiggler-*-win64.msi \
    "$root"/build/release/installer/veltrano-mouse-jiggler-*-win64-machine.msi 2>/dev/null || true)
  if [ ${#msis[@]} -eq 0 ]; then
    echo "winget-manifest: no MSI given, and none in build/release/installer (cmake --workflow --preset installer)" >&2
    exit 2
  fi
fi
command -v msiinfo >/dev/null || { echo "winget-manifest: needs msiinfo (Debian: apt install msitools)" >&2; exit 2; }

# A property of the MSI whose Property table is in $props, or "" when it has none.
property() {
  awk -F'\t' -v name="$1" '$1 == name { print $2; found = 1 } END { if (!found) print "" }' <<<"$props"
}

version=""
manufacturer=""
entries=""
for msi in "${msis[@]}"; do
  [ -f "$msi" ] || { echo "winget-manifest: no such MSI: $msi" >&2; exit 2; }
  props=$(msiinfo export "$msi" Property | tr -d '\r')
  v=$(property ProductVersion)
  if [ -z "$version" ]; then
    version=$v
    manufacturer=$(property Manufacturer)
  elif [ "$v" != "$version" ]; then
    echo "winget-manifest: $msi is version $v, the others $version: one release at a time" >&2
    exit 2
  fi
  code=$(property ProductCode)
  upgrade=$(property UpgradeCode)
  name=$(property ProductName)
  if [ "$(property ALLUSERS)" = "1" ]; then
    scope=machine
    elevation=elevationRequired
  else
    scope=user
    elevation=elevationProhibited
  fi
  sha=$(sha256sum "$msi" | cut -d' ' -f1 | tr 'a-f' 'A-F')
  entries+="- Architecture: x64
  Scope: $scope
  InstallerUrl: $url/$(basename "$msi")
  InstallerSha256: $sha
  ProductCode: '$code'
  ElevationRequirement: $elevation
  AppsAndFeaturesEntries:
  - DisplayName: $name
    Publisher: $manufacturer
    DisplayVersion: $version
    ProductCode: '$code'
    UpgradeCode: '$upgrade'
"
done

out=${MJ_WINGET_DIR:-$root/build/release/winget}/$version
mkdir -p "$out"

cat >"$out/$id.yaml" <<EOF
PackageIdentifier: $id
PackageVersion: $version
DefaultLocale: en-US
ManifestType: version
ManifestVersion: $schema
EOF

cat >"$out/$id.locale.en-US.yaml" <<EOF
PackageIdentifier: $id
PackageVersion: $version
PackageLocale: en-US
Publisher: $manufacturer
PackageName: Veltrano Mouse Jiggler
Moniker: veltrano-mouse-jiggler
License: MIT
Copyright: Copyright (c) 2026 the veltrano-mouse-jiggler authors
ShortDescription: Keeps an interactive desktop from being treated as idle
Description: An agent in the notification area that keeps the desktop from being treated as idle, with a command-line host; per-user and per-machine packages, steered by Group Policy.
Tags:
- idle
- keep-awake
- group-policy
ManifestType: defaultLocale
ManifestVersion: $schema
EOF

# winget upgrades by installing the newer MSI over the older, which removes
# it (MajorUpgrade); silent means /qn with no agent started at the end.
cat >"$out/$id.installer.yaml" <<EOF
PackageIdentifier: $id
PackageVersion: $version
InstallerType: msi
InstallModes:
- interactive
- silent
- silentWithProgress
InstallerSwitches:
  Silent: /qn
  SilentWithProgress: /qb
UpgradeBehavior: install
Installers:
${entries}ManifestType: installer
ManifestVersion: $schema
EOF

echo "$out/$id.yaml"
echo "$out/$id.locale.en-US.yaml"
echo "$out/$id.installer.yaml"
