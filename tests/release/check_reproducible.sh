#!/usr/bin/env bash
# Builds the release twice, as the README says (scripts/release.sh), from two
# copies of the sources: in different folders, one after the other, in
# different time zones and under different umasks. Each copy is a git
# repository whose one commit has the time of the checkout's: the time stamps
# come from it. Every file of the two release folders must be the same;
# each folder checks on its own (release_folder.sh); the binaries are
# unsigned. Prints the time each build took.
#   check_reproducible.sh WORK_DIR   (NODE, SOURCE_DIR in the environment)
set -euo pipefail
work=$1
. "$SOURCE_DIR/tests/release/release_folder.sh"
rm -rf "$work"
mkdir -p "$work"
unset SOURCE_DATE_EPOCH MJ_SIGN_PFX MJ_SIGN_PKCS11_MODULE
epoch=$(git -C "$SOURCE_DIR" log -1 --format=%ct)
url=https://downloads.example.invalid/veltrano-mouse-jiggler/v1.0.0

# The sources as they are now (tracked and new files, as git would commit
# them), in a repository of their own.
copy_sources() {
  mkdir -p "$1"
  (cd "$SOURCE_DIR" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ ! -e "$f" ] || printf '%s\0' "$f"; done | tar --null -T - -cf -) | tar -xf - -C "$1"
  git -C "$1" init -q
  git -C "$1" add -A
  GIT_COMMITTER_DATE="@$epoch +0000" GIT_AUTHOR_DATE="@$epoch +0000" \
    git -C "$1" -c user.name=release-test -c user.email=release-test@example.invalid commit -qm "the sources"
}

build() {
  local sources=$1 dist=$2 zone=$3 mask=$4 start
  start=$(date +%s)
  (umask "$mask" && cd "$sources" && TZ=$zone LC_ALL=C nice scripts/release.sh --build "$sources/build/release" \
    --out "$dist" "$url" >"$work/$(basename "$dist").log" 2>&1) ||
    fail "scripts/release.sh in $sources failed:
$(tail -20 "$work/$(basename "$dist").log")"
  echo "release build in $sources ($zone, umask $mask): $(($(date +%s) - start)) s"
}

copy_sources "$work/a/src"
copy_sources "$work/b/another/place/src"
build "$work/a/src" "$work/a/dist" UTC 022
sleep 2  # another second and another two-second step of the zip's and cabinet's times, at least
build "$work/b/another/place/src" "$work/b/dist" Pacific/Auckland 077

[ "$(release_files "$work/a/dist")" = "$(release_files "$work/b/dist")" ] || fail "the two release folders hold different files"
differ=""
while read -r file; do
  cmp -s "$work/a/dist/$file" "$work/b/dist/$file" || differ+=" $file"
done < <(release_files "$work/a/dist")
[ -z "$differ" ] || fail "the two builds differ in:$differ"
echo "both builds: $(release_files "$work/a/dist" | wc -l) files, the same SHA-256 each"

check_release_folder "$work/a/dist" "$work/a"
# Unsigned: no certificate table in any binary.
for binary in "$work"/a/unpacked/*/*/bin/*.{dll,exe}; do
  osslsigncode extract-signature -in "$binary" -out "$work/a/signature" >/dev/null 2>&1 &&
    fail "the unsigned build's $(basename "$binary") carries a signature"
done
# The validator refuses what breaks the schema: a hash of an unknown kind.
sed 's/"SHA-256"/"SHA-257"/' "$work/a/dist/veltrano-mouse-jiggler-1.0.0-sbom.cdx.json" >"$work/broken.cdx.json"
"$NODE" "$SOURCE_DIR/tests/release/check_sbom.js" "$work/broken.cdx.json" 2>/dev/null &&
  fail "the schema check passed a bill with a hash of kind SHA-257"
echo "release_reproducible: passed"
