#!/usr/bin/env bash
# The release signed, as a publisher signs it (scripts/release.sh --sign),
# with a throw-away code-signing certificate made here by openssl (a root and
# a certificate it issued, in a PFX with a password; never kept). Every
# signature verifies against that root: the DLL and both programs in the zip
# and in both MSIs, and the MSIs themselves; the winget manifest, the bill of
# materials and the sums are those of the signed files. A changed byte fails
# verification, of a binary and of an MSI. With their signatures removed the
# binaries are the unsigned build's bytes (UNSIGNED_DIST, release_reproducible's
# folder): an IT department can check a signed release against its own build.
#   check_signed.sh WORK_DIR UNSIGNED_DIST   (NODE, SOURCE_DIR in the environment)
set -euo pipefail
work=$1
unsigned=$2
. "$SOURCE_DIR/tests/release/release_folder.sh"
rm -rf "$work"
mkdir -p "$work/ca"
unset SOURCE_DATE_EPOCH MJ_SIGN_PKCS11_MODULE MJ_SIGN_TIMESTAMP_URL
name=veltrano-mouse-jiggler-1.0.0

# ---- The throw-away certificate.
ca=$work/ca
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/root.key" -out "$ca/root.pem" -days 2 \
  -subj "/CN=Throw-away test root" -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$ca/signer.key" -out "$ca/signer.csr" \
  -subj "/CN=Throw-away code signing/O=Release test" 2>/dev/null
printf 'basicConstraints=critical,CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$ca/ext.cnf"
openssl x509 -req -in "$ca/signer.csr" -CA "$ca/root.pem" -CAkey "$ca/root.key" -CAcreateserial -days 2 \
  -extfile "$ca/ext.cnf" -out "$ca/signer.pem" 2>/dev/null
password=$(openssl rand -hex 12)
openssl pkcs12 -export -inkey "$ca/signer.key" -in "$ca/signer.pem" -certfile "$ca/root.pem" \
  -out "$ca/signer.pfx" -passout "pass:$password"

# ---- The signed release.
start=$(date +%s)
(cd "$SOURCE_DIR" && MJ_SIGN_PFX="$ca/signer.pfx" MJ_SIGN_PASSWORD="$password" nice scripts/release.sh --sign \
  --build "$work/build" --out "$work/dist" https://downloads.example.invalid/veltrano-mouse-jiggler/v1.0.0 \
  >"$work/release.log" 2>&1) || fail "scripts/release.sh --sign failed:
$(tail -20 "$work/release.log")"
echo "signed release build: $(($(date +%s) - start)) s"
grep -q "$password" "$work/build/CMakeCache.txt" "$work/build/build.ninja" && fail "the password went into the build's files"
check_release_folder "$work/dist" "$work"

verify() {
  osslsigncode verify -CAfile "$ca/root.pem" -in "$1" >"$work/verify.log" 2>&1 &&
    grep -q "Throw-away code signing" "$work/verify.log"
}
signed=("$work/dist/$name-win64.msi" "$work/dist/$name-win64-machine.msi")
for binary in veltrano-mouse-jiggler.dll mjctl.exe mjtray.exe; do
  signed+=("$work/unpacked/$name-win64.zip/$name-win64/bin/$binary"
    "$work/unpacked/$name-win64.msi/Programs/Veltrano Mouse Jiggler/$binary"
    "$work/unpacked/$name-win64-machine.msi/Veltrano Mouse Jiggler/$binary")
done
for file in "${signed[@]}"; do
  verify "$file" || fail "the signature of $file does not verify:
$(cat "$work/verify.log")"
done
echo "${#signed[@]} signatures verify: both MSIs and, in the zip and in each MSI, the DLL and both programs"

# A changed byte: in the middle of a binary's code, and in the files an MSI
# carries (its cabinet, after the header's "MSCF").
change_byte() {
  cp "$1" "$work/tampered"
  local old
  old=$(od -An -tx1 -j "$2" -N1 "$work/tampered" | tr -d ' ')
  printf "\\x$([ "$old" = 5a ] && echo 3c || echo 5a)" | dd of="$work/tampered" bs=1 seek="$2" conv=notrunc status=none
}
binary=$work/unpacked/$name-win64.zip/$name-win64/bin/mjctl.exe
change_byte "$binary" $(($(stat -c %s "$binary") / 2))
verify "$work/tampered" && fail "mjctl.exe with a changed byte still verifies"
msi=$work/dist/$name-win64.msi
cabinet=$(grep -obUa MSCF "$msi" | head -1 | cut -d: -f1)
[ -n "$cabinet" ] || fail "no cabinet in $msi"
change_byte "$msi" $((cabinet + 300))
verify "$work/tampered" && fail "the MSI with a changed byte in its cabinet still verifies"
echo "a changed byte fails verification, in a binary and in an MSI"

# Without the signature, the unsigned build's bytes.
unpack_release "$unsigned" "$work/unsigned"
for binary in veltrano-mouse-jiggler.dll mjctl.exe mjtray.exe; do
  osslsigncode remove-signature -in "$work/unpacked/$name-win64.zip/$name-win64/bin/$binary" \
    -out "$work/stripped" >/dev/null || fail "cannot remove the signature of $binary"
  cmp -s "$work/stripped" "$work/unsigned/$name-win64.zip/$name-win64/bin/$binary" ||
    fail "$binary without its signature is not the unsigned build's"
  rm -f "$work/stripped"
done
echo "release_signed: passed"
