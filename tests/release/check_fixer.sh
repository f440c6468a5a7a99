#!/usr/bin/env bash
# tools/release/reproducible.cpp on small packages made here: a zip's
# entries come out sorted, with the epoch's time, fixed modes and no owner,
# and two zips of the same files made at different times and modes come out
# the same bytes; an MSI's summary gets the epoch's times and the package
# code. What it cannot read (a cut zip, a text, a cut MSI, a code of another
# length) is refused with exit code 1 and left as it was.
#   check_fixer.sh WORK_DIR PROGRAM
set -euo pipefail
work=$1
fixer=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
epoch=1796904756  # 2026-12-10 12:12:36 UTC

# ---- Zips: the same files, made twice, differently.
make_zip() {  # folder, umask, zip
  mkdir -p "$1/pkg/bin"
  (umask "$2" && printf 'second\n' >"$1/pkg/b.txt" && printf 'first\n' >"$1/pkg/a.txt" &&
    printf 'MZ\n' >"$1/pkg/bin/tool.exe" && chmod +x "$1/pkg/bin/tool.exe")
  (cd "$1" && cmake -E tar cf "$3" --format=zip pkg/b.txt pkg/bin pkg/a.txt)
}
make_zip one 022 "$work/one.zip"
sleep 2
make_zip two 077 "$work/two.zip"
cmp -s one.zip two.zip && fail "the two zips are already the same: the test shows nothing"
"$fixer" zip $epoch one.zip && "$fixer" zip $epoch two.zip || fail "the fixer refused a zip of CMake's"
cmp -s one.zip two.zip || fail "two zips of the same files differ after the fixer"
unzip -tq one.zip >/dev/null || fail "the fixed zip does not test"
[ "$(unzip -Z1 one.zip | tr '\n' ' ')" = "pkg/a.txt pkg/b.txt pkg/bin/ pkg/bin/tool.exe " ] ||
  fail "the entries are not sorted: $(unzip -Z1 one.zip | tr '\n' ' ')"
listing=$(TZ=UTC unzip -Z -T one.zip | grep pkg/)
[ "$(grep -c ' 20261210\.121236 ' <<<"$listing")" = 4 ] || fail "not every entry has the epoch's time:
$listing"
grep -q '^-rwxr-xr-x .* pkg/bin/tool.exe$' <<<"$listing" && grep -q '^-rw-r--r-- .* pkg/a.txt$' <<<"$listing" &&
  grep -q '^drwxr-xr-x .* pkg/bin/$' <<<"$listing" || fail "the modes are not 755 and 644:
$listing"
unzip -Zv one.zip | grep -qi 'extra field.*UID\|0x7875\|0x5455' && fail "an extra field (times, owner) stayed"
[ "$(unzip -p one.zip pkg/a.txt)" = first ] || fail "a file's contents changed"
cp one.zip again.zip
"$fixer" zip $epoch again.zip && cmp -s one.zip again.zip || fail "a second pass changed the zip"

# ---- Refusals: each leaves the file as it was.
refused() {  # what, file, arguments...
  local what=$1 file=$2
  shift 2
  cp "$file" before
  set +e
  "$fixer" "$@" 2>err
  local rc=$?
  set -e
  [ $rc = 1 ] || fail "$what: exit code $rc, wanted 1"
  [ -s err ] || fail "$what: no error text"
  cmp -s before "$file" || fail "$what: the file changed"
}
head -c 300 one.zip >cut.zip
refused "a cut zip" cut.zip zip $epoch cut.zip
printf 'no zip at all\n' >text.zip
refused "a text" text.zip zip $epoch text.zip
: >empty.zip
refused "an empty file" empty.zip zip $epoch empty.zip

# ---- An MSI's summary, as wixl writes it (its clock's times, a drawn code).
code='{5D4B1C1E-8F0A-5E3B-9C4D-2A1B0C9D8E7F}'
mkdir msi
printf 'payload\n' >msi/payload.txt
cat >msi/test.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Fixer test" Language="1033" Version="1.0.0" Manufacturer="the fixer's test"
           UpgradeCode="7B3E2D1C-0A9F-4E8D-B7C6-5A4F3E2D1C0B">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"/>
    <Media Id="1" Cabinet="files.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="INSTALLFOLDER" Name="Fixer test">
          <Component Id="Payload" Guid="3C2B1A09-8F7E-4D6C-B5A4-93827160F5E4">
            <File Id="Payload" Name="payload.txt" Source="payload.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Payload"/></Feature>
  </Product>
</Wix>
WXS
(cd msi && wixl --arch x64 -o ../new.msi test.wxs 2>/dev/null) || fail "wixl cannot build the test's MSI"
cp new.msi cut.msi
"$fixer" msi $epoch "$code" new.msi || fail "the fixer refused msitools' MSI"
summary=$(TZ=UTC msiinfo suminfo new.msi)
grep -qx "Revision number (UUID): $code" <<<"$summary" || fail "the package code is not set:
$summary"
[ "$(grep -c -E '^(Created|Last saved): Thu Dec 10 12:12:36 2026$' <<<"$summary")" = 2 ] || fail "the times are not the epoch's:
$summary"
msiinfo tables new.msi >/dev/null || fail "the fixed MSI does not read"
refused "a package code of another length" new.msi msi $epoch '{5D4B1C1E}' new.msi
refused "a zip for an MSI" one.zip msi $epoch "$code" one.zip
head -c 1536 cut.msi >cut2.msi
refused "a cut MSI" cut2.msi msi $epoch "$code" cut2.msi

# ---- Times of files, and a wrong epoch.
printf x >file
"$fixer" touch $epoch file && [ "$(stat -c %Y file)" = $epoch ] || fail "touch did not set the time"
set +e
"$fixer" zip 12abc one.zip 2>/dev/null
rc=$?
set -e
[ $rc = 2 ] || fail "an epoch of 12abc: exit code $rc, wanted 2"
echo "release_fixer: passed"
