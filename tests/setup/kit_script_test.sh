#!/usr/bin/env bash
# scripts/kit on this build folder's kit, unsigned and signed:
#
#   kit_script_test.sh SOURCE PRESET KIT SCRATCH
#
#   - SHA256SUMS beside the ZIP names exactly it and sha256sum -c accepts it;
#   - unsigned, the programs carry no signature;
#   - with --sign and a throwaway self-signed certificate made here with
#     openssl, both programs carry an Authenticode signature that
#     osslsigncode verifies against that certificate, and the checksums
#     match the signed ZIP;
#   - a wrong password fails the kit, naming the program it could not sign.
# scripts/kit --no-build packages what the build folder holds, so the test
# needs no second build. Exit status 0 passed, 1 failed.
set -uo pipefail

source_dir=${1:?source} preset=${2:?preset} kit=${3:?kit name} scratch=${4:?scratch}
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "FAIL $*" >&2
  exit 1
}

# make_kit OUT [ARGS...]: scripts/kit for this preset into OUT, unpacked there.
make_kit() {
  local dir=$1
  shift
  bash "$source_dir/scripts/kit" --no-build --preset "$preset" --out "$dir" "$@" \
    > "$scratch/kit.log" 2>&1 || { cat "$scratch/kit.log" >&2; fail "scripts/kit $* failed"; }
  [[ $(cat "$dir/SHA256SUMS") =~ ^[0-9a-f]{64}\ \ $kit\.zip$ ]] ||
    fail "$dir/SHA256SUMS does not name exactly $kit.zip: $(cat "$dir/SHA256SUMS")"
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "$dir/SHA256SUMS does not match"
  (cd "$dir" && cmake -E tar xf "$kit.zip") || fail "cannot unpack $dir/$kit.zip"
}

make_kit "$scratch/plain"
for program in langmon-setup.exe langmon.dll; do
  if osslsigncode verify -in "$scratch/plain/$kit/$program" > "$scratch/verify.log" 2>&1; then
    fail "the unsigned kit's $program has a signature"
  fi
done
echo "unsigned kit: checksums match, no signatures"

# A throwaway code-signing certificate, valid for two days.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=langmon test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
  > "$scratch/openssl.log" 2>&1 || fail "openssl req: $(cat "$scratch/openssl.log")"
openssl pkcs12 -export -in "$scratch/cert.pem" -inkey "$scratch/key.pem" \
  -out "$scratch/cert.pfx" -passout pass:kit-test-password \
  > "$scratch/openssl.log" 2>&1 || fail "openssl pkcs12: $(cat "$scratch/openssl.log")"

LANGMON_SIGN_PASSWORD=kit-test-password make_kit "$scratch/signed" --sign "$scratch/cert.pfx"
grep -q "signed)" "$scratch/kit.log" || fail "scripts/kit does not say the kit is signed"
for program in langmon-setup.exe langmon.dll; do
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/signed/$kit/$program" \
    > "$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log" >&2; fail "$program: not verified"; }
  grep -q "Signature verification: ok" "$scratch/verify.log" ||
    { cat "$scratch/verify.log" >&2; fail "$program: no verified signature"; }
done
echo "signed kit: checksums match, both programs verified"

if LANGMON_SIGN_PASSWORD=wrong bash "$source_dir/scripts/kit" --no-build --preset "$preset" \
  --out "$scratch/wrong" --sign "$scratch/cert.pfx" > "$scratch/kit.log" 2>&1; then
  fail "scripts/kit signed with a wrong password"
fi
grep -q "could not sign" "$scratch/kit.log" || { cat "$scratch/kit.log" >&2; fail "no reason given"; }
if env -u LANGMON_SIGN_PASSWORD bash "$source_dir/scripts/kit" --no-build --preset "$preset" \
  --out "$scratch/none" --sign "$scratch/cert.pfx" > "$scratch/kit.log" 2>&1; then
  fail "scripts/kit signed without LANGMON_SIGN_PASSWORD"
fi
grep -q "LANGMON_SIGN_PASSWORD" "$scratch/kit.log" || fail "no word of LANGMON_SIGN_PASSWORD"
echo "PASS"
