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
echo "without their signatures the binaries are the unsigned build's"

# A time stamp from an RFC 3161 server (a throw-away one on the loopback
# address, its certificate issued by the same root): the signature carries it.
openssl req -newkey rsa:2048 -nodes -keyout "$ca/tsa.key" -out "$ca/tsa.csr" -subj "/CN=Throw-away time stamps" 2>/dev/null
printf 'basicConstraints=critical,CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >"$ca/tsa.cnf"
openssl x509 -req -in "$ca/tsa.csr" -CA "$ca/root.pem" -CAkey "$ca/root.key" -CAcreateserial -days 2 \
  -extfile "$ca/tsa.cnf" -out "$ca/tsa.pem" 2>/dev/null
cat >"$ca/ts.cnf" <<EOF2
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $ca/tsa.serial
crypto_device = builtin
signer_cert = $ca/tsa.pem
certs = $ca/root.pem
signer_key = $ca/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF2
echo 01 >"$ca/tsa.serial"
mkdir -p "$ca/tsa"
coproc tsa { exec "$NODE" "$SOURCE_DIR/tests/release/tsa_server.js" "$ca/ts.cnf" "$ca/tsa"; }
tsa_pid=$tsa_PID
trap 'kill $tsa_pid 2>/dev/null || true' EXIT
read -r -t 30 tsa_url <&"${tsa[0]}" || fail "the time-stamp server did not start"
cp "$work/unsigned/$name-win64.zip/$name-win64/bin/veltrano-mouse-jiggler.dll" "$work/stamped.dll"
MJ_SIGN_PFX="$ca/signer.pfx" MJ_SIGN_PASSWORD="$password" MJ_SIGN_TIMESTAMP_URL=$tsa_url \
  bash "$SOURCE_DIR/scripts/sign.sh" "$work/stamped.dll" >/dev/null 2>"$work/stamp.err" ||
  fail "signing with a time stamp failed: $(cat "$work/stamp.err")"
osslsigncode verify -CAfile "$ca/root.pem" -TSA-CAfile "$ca/root.pem" -in "$work/stamped.dll" >"$work/verify.log" 2>&1 &&
  grep -q "Throw-away time stamps" "$work/verify.log" || fail "the time-stamped signature does not verify:
$(cat "$work/verify.log")"
kill $tsa_pid
echo "a signature carries the RFC 3161 time stamp of the server named"

# A key on a PKCS#11 token (SoftHSM's, made here), as a publisher's EV key
# is: the same certificate, the PIN through MJ_SIGN_PASSWORD.
module=/usr/lib/softhsm/libsofthsm2.so
[ -f "$module" ] || fail "no SoftHSM module at $module (scripts/setup.sh installs softhsm2)"
mkdir -p "$ca/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$ca/tokens" >"$ca/softhsm2.conf"
export SOFTHSM2_CONF=$ca/softhsm2.conf
pin=$(openssl rand -hex 4)
softhsm2-util --init-token --free --label release-test --pin "$pin" --so-pin "$pin$pin" >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$ca/signer.key" -out "$ca/signer.p8"
softhsm2-util --import "$ca/signer.p8" --token release-test --label signer --id 01 --pin "$pin" >/dev/null
cat "$ca/signer.pem" "$ca/root.pem" >"$ca/chain.pem"
cp "$work/unsigned/$name-win64.zip/$name-win64/bin/mjtray.exe" "$work/token-signed.exe"
MJ_SIGN_PKCS11_MODULE=$module MJ_SIGN_PKCS11_KEY="pkcs11:token=release-test;object=signer;type=private" \
  MJ_SIGN_CERTS=$ca/chain.pem MJ_SIGN_PASSWORD=$pin bash "$SOURCE_DIR/scripts/sign.sh" "$work/token-signed.exe" \
  >/dev/null 2>"$work/token.err" || fail "signing with the token failed: $(cat "$work/token.err")"
verify "$work/token-signed.exe" || fail "the token's signature does not verify: $(cat "$work/verify.log")"
echo "a key on a PKCS#11 token signs too"

# What scripts/sign.sh cannot sign with: exit code 2 (1 for a wrong password)
# with one line of why, and the file as it was.
cp "$work/unsigned/$name-win64.zip/$name-win64/bin/mjctl.exe" "$work/unsigned.exe"
cp "$work/unsigned.exe" "$work/untouched.exe"
while IFS='|' read -r what want environment; do
  set +e
  env -u MJ_SIGN_PFX -u MJ_SIGN_PASSWORD -u MJ_SIGN_PKCS11_MODULE -u MJ_SIGN_PKCS11_KEY $environment \
    bash "$SOURCE_DIR/scripts/sign.sh" "$work/unsigned.exe" 2>"$work/sign.err" >/dev/null
  rc=$?
  set -e
  [ "$rc" = "$want" ] && [ "$(wc -l <"$work/sign.err")" -ge 1 ] ||
    fail "sign.sh with $what: exit code $rc, wanted $want with a reason: $(cat "$work/sign.err")"
  cmp -s "$work/unsigned.exe" "$work/untouched.exe" || fail "sign.sh with $what changed the file"
done <<EOF2
no certificate|2|
a PFX that is not there|2|MJ_SIGN_PFX=$ca/missing.pfx
a wrong password|1|MJ_SIGN_PFX=$ca/signer.pfx MJ_SIGN_PASSWORD=not-$password
a token without the key's URI|2|MJ_SIGN_PKCS11_MODULE=/usr/lib/none.so
EOF2
echo "release_signed: passed"
