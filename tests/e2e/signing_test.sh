#!/usr/bin/env bash
# The DLL signed as a studio signs it: a throwaway code-signing certificate made here, the DLL
# signed by scripts/sign.sh, osslsigncode's verify accepting it against that certificate, and
# the signed DLL then running a patch through rundll32 under Wine. A wrong password and a
# missing certificate file are refused with the DLL unchanged.
#
# Usage: signing_test.sh <Quorvel.dll> <folder of the helper programs> <wine command...>
set -euo pipefail
dll=$1
programs=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
windows() { echo "Z:${1//\//\\}"; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Example Studio" -addext "extendedKeyUsage=codeSigning" \
  -addext "keyUsage=digitalSignature" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/studio.pfx" \
  -passout pass:right-password
cp "$dll" "$work/Quorvel.dll"
cp "$dll" "$work/unsigned.dll"
export QUORVEL_SIGN_PFX="$work/studio.pfx"
unset QUORVEL_SIGN_TIMESTAMP_URL

for refused in "wrong-password:$work/studio.pfx" "right-password:$work/missing.pfx"; do
  if QUORVEL_SIGN_PASSWORD=${refused%%:*} QUORVEL_SIGN_PFX=${refused#*:} \
    "$root/scripts/sign.sh" "$work/Quorvel.dll" 2>"$work/refusal.txt"; then
    fail "signed with $refused"
  fi
  grep -q "^sign: " "$work/refusal.txt" || fail "no message for $refused"
  cmp -s "$work/Quorvel.dll" "$work/unsigned.dll" || fail "the DLL changed after $refused"
done

QUORVEL_SIGN_PASSWORD=right-password "$root/scripts/sign.sh" "$work/Quorvel.dll" >/dev/null
osslsigncode verify -in "$work/Quorvel.dll" -CAfile "$work/cert.pem" >"$work/verify.txt" 2>&1 ||
  fail "verify refused the signed DLL: $(cat "$work/verify.txt")"
grep -q "Signature verification: ok" "$work/verify.txt" || fail "$(cat "$work/verify.txt")"
# A certificate that did not sign it is not accepted.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/other.key" -out "$work/other.pem" \
  -days 2 -subj "/CN=Someone Else" 2>/dev/null
if osslsigncode verify -in "$work/Quorvel.dll" -CAfile "$work/other.pem" >/dev/null 2>&1; then
  fail "verify accepted another certificate"
fi

# The signed DLL patches a file through rundll32 and restarts the launcher.
mkdir -p "$work/Patch" "$work/Game"
printf new >"$work/Patch/a.txt"
printf old >"$work/Game/a.txt"
cp "$programs/sample_launcher.exe" "$work/Game/DastryLauncher.exe"
"$@" rundll32.exe "$(windows "$work/Quorvel.dll"),Quorvel" 999999 "$(windows "$work/Patch")" \
  "$(windows "$work/Game")" "$(windows "$work/Backup")" 1 a.txt \
  "$(windows "$work/Game/DastryLauncher.exe")" </dev/null >/dev/null 2>&1
[ "$(cat "$work/Game/a.txt")" = new ] || fail "the signed DLL did not patch the file"
[ "$(cat "$work/Backup/a.txt")" = old ] || fail "the signed DLL did not back the file up"
for _ in $(seq 100); do
  [ -f "$work/Game/DastryLauncher.record.txt" ] && break
  sleep 0.1
done
grep -q "QUORVEL_RESULT=0x00000000" "$work/Game/DastryLauncher.record.txt" ||
  fail "the launcher was not restarted with success"
sleep 0.5  # the launcher lets go of its folder
echo "signed, verified and run"
