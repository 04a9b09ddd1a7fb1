#!/usr/bin/env bash
# Signs a built Quorvel.dll in place with Authenticode (Debian's osslsigncode), SHA-256:
#
#   QUORVEL_SIGN_PFX=studio.pfx QUORVEL_SIGN_PASSWORD=... scripts/sign.sh build/i686/bin/Quorvel.dll
#
# QUORVEL_SIGN_PFX names the studio's PKCS#12 file (its code-signing certificate, the chain
# above it and the private key), QUORVEL_SIGN_PASSWORD its password. With
# QUORVEL_SIGN_TIMESTAMP_URL set, an RFC 3161 time stamp from that authority keeps the signature
# valid after the certificate expires. The DLL is replaced only by a signed copy: a missing file
# or a wrong password leaves it as it was, and the script ends with a message and status 1.
set -euo pipefail

fail() {
  echo "sign: $*" >&2
  exit 1
}

[ $# -eq 1 ] || fail "usage: scripts/sign.sh <dll>"
dll=$1
[ -f "$dll" ] || fail "no DLL at $dll"
pfx=${QUORVEL_SIGN_PFX:-}
[ -n "$pfx" ] || fail "QUORVEL_SIGN_PFX does not name the PKCS#12 file to sign with"
[ -f "$pfx" ] || fail "no PKCS#12 file at $pfx (QUORVEL_SIGN_PFX)"
[ -n "${QUORVEL_SIGN_PASSWORD+set}" ] || fail "QUORVEL_SIGN_PASSWORD is not set"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password reaches osslsigncode through a file only this user can read, never its command
# line, which other users' processes can see.
(umask 077 && printf '%s' "$QUORVEL_SIGN_PASSWORD" >"$work/password")
# Checked first, so that a wrong password gets a message of its own.
if ! openssl pkcs12 -in "$pfx" -passin "file:$work/password" -noout 2>"$work/openssl.txt"; then
  fail "cannot open $pfx with the password in QUORVEL_SIGN_PASSWORD (a wrong password, or not a PKCS#12 file); $dll is unchanged"
fi

options=(sign -pkcs12 "$pfx" -readpass "$work/password" -h sha256 -n "${QUORVEL_SIGN_DESCRIPTION:-Quorvel}")
if [ -n "${QUORVEL_SIGN_TIMESTAMP_URL:-}" ]; then
  options+=(-ts "$QUORVEL_SIGN_TIMESTAMP_URL")
fi
# The signed copy is made beside the DLL and then renamed over it, so the DLL is never half
# written.
signed="$dll.signing"
rm -f "$signed"
if ! osslsigncode "${options[@]}" -in "$dll" -out "$signed" >"$work/osslsigncode.txt" 2>&1; then
  rm -f "$signed"
  cat "$work/osslsigncode.txt" >&2
  fail "osslsigncode could not sign $dll; it is unchanged"
fi
mv -f "$signed" "$dll"
echo "sign: signed $dll"
