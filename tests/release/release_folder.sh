# Sourced by the release tests: checks of a folder scripts/release.sh wrote.
# Needs NODE and SOURCE_DIR; `fail` ends the test with one line.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -d "$SOURCE_DIR/tests/release/node_modules/@cyclonedx/cyclonedx-library" ] ||
  fail "no schema validator in tests/release/node_modules: run scripts/setup.sh"

# The files of a release folder, one a line, sorted.
release_files() {
  (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort)
}

# Unpacks the zip and both MSIs of release folder $1 into $2/<package>/.
unpack_release() {
  local dist=$1 into=$2 package
  rm -rf "$into"
  for package in "$dist"/*.zip "$dist"/*.msi; do
    mkdir -p "$into/$(basename "$package")"
    case "$package" in
      *.zip) (cd "$into/$(basename "$package")" && cmake -E tar xf "$package") ;;
      *.msi) msiextract -C "$into/$(basename "$package")" "$package" >/dev/null ;;
    esac || fail "cannot unpack $package"
  done
}

# What every release folder holds and proves: its files, the sums, the bill
# of materials (schema and files), the notices in every package, the
# manifest's hashes of these MSIs.
check_release_folder() {
  local dist=$1 work=$2 v=1.0.0 name=veltrano-mouse-jiggler-1.0.0
  local want="SHA256SUMS
$name-sbom.cdx.json
$name-win64-machine.msi
$name-win64.msi
$name-win64.zip
winget/$v/Veltrano.MouseJiggler.installer.yaml
winget/$v/Veltrano.MouseJiggler.locale.en-US.yaml
winget/$v/Veltrano.MouseJiggler.yaml"
  [ "$(release_files "$dist")" = "$want" ] || fail "$dist holds:
$(release_files "$dist")
wanted:
$want"
  (cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS does not check in $dist"
  [ "$(cut -c67- "$dist/SHA256SUMS")" = "$(grep -vx SHA256SUMS <<<"$want")" ] ||
    fail "SHA256SUMS does not name every other file of $dist"

  unpack_release "$dist" "$work/unpacked"
  "$NODE" "$SOURCE_DIR/tests/release/check_sbom.js" "$dist/$name-sbom.cdx.json" "$dist" "$work/unpacked" \
    "$SOURCE_DIR/THIRD-PARTY-NOTICES.txt" || fail "the bill of materials of $dist"
  local notices
  for notices in "$work/unpacked/$name-win64.zip/$name-win64/THIRD-PARTY-NOTICES.txt" \
    "$work/unpacked/$name-win64.msi/Programs/Veltrano Mouse Jiggler/THIRD-PARTY-NOTICES.txt" \
    "$work/unpacked/$name-win64-machine.msi/Veltrano Mouse Jiggler/THIRD-PARTY-NOTICES.txt"; do
    cmp -s "$notices" "$SOURCE_DIR/THIRD-PARTY-NOTICES.txt" || fail "no THIRD-PARTY-NOTICES.txt at $notices"
  done
  local msi sha
  for msi in "$dist"/*.msi; do
    sha=$(sha256sum "$msi" | cut -d' ' -f1 | tr a-f A-F)
    grep -qx "  InstallerSha256: $sha" "$dist/winget/$v/Veltrano.MouseJiggler.installer.yaml" ||
      fail "the winget manifest lacks the SHA-256 of $(basename "$msi")"
  done
}
