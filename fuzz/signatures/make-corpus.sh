#!/bin/bash
# Seeds for the signature-reading fuzzer, made at build time: real blocks
# made by `openssl cms`, trailers of each version, stacked and hostile
# trailers, and files that start with an RPM lead and signature header.
# Usage: make-corpus.sh OUTPUT_DIRECTORY
set -euo pipefail

out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# Little- and big-endian 32-bit integers as raw bytes.
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
be32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((($1 >> 24) & 255)) $((($1 >> 16) & 255)) $((($1 >> 8) & 255)) $(($1 & 255)))"; }
size() { stat -c %s "$1"; }

# Trailers: version 1 (64-bit size, magic 83 8E 9F F0), version 2 and 3
# (32-bit size, version, magic BB 91 9F F0).
legacy_trailer() { le32 "$1"; le32 0; printf '\x83\x8e\x9f\xf0'; }
trailer() { le32 "$1"; le32 "$2"; printf '\xbb\x91\x9f\xf0'; }
block_v1() { cat "$1"; legacy_trailer "$(size "$1")"; }
block_v2() { cat "$1"; trailer "$(size "$1")" 2; }
block_v3() { printf '\x50\x2a\x4d\x18'; le32 $(($(size "$1") + 12)); cat "$1"; trailer "$(size "$1")" 3; }

openssl req -x509 -newkey rsa:1024 -nodes -keyout "$work/key.pem" -subj "/CN=Fuzz Signer" -days 1 \
    -addext "subjectKeyIdentifier=hash" -out "$work/cert.pem" 2>/dev/null
sign() { openssl cms -sign -binary -outform DER -in "$1" -signer "$work/cert.pem" -inkey "$work/key.pem" -out "$2"; }

printf 'bare package bytes' > "$work/bare"
sign "$work/bare" "$work/first.der"
block_v2 "$work/first.der" > "$work/first.block"
sign "$work/first.block" "$work/second.der"
openssl cms -sign -binary -nodetach -outform DER -in "$work/bare" -signer "$work/cert.pem" \
    -inkey "$work/key.pem" -out "$work/embedded.der"

{ cat "$work/bare"; block_v1 "$work/embedded.der"; } > "$out/version1"
{ cat "$work/bare"; block_v2 "$work/first.der"; } > "$out/version2"
{ cat "$work/bare"; block_v3 "$work/first.der"; } > "$out/version3"
{ cat "$work/bare"; cat "$work/first.block"; block_v3 "$work/second.der"; } > "$out/two-blocks"
{ cat "$work/bare"; cat "$work/first.block"; block_v2 "$work/second.der"; block_v3 "$work/second.der"; } \
    > "$out/three-blocks"
{ cat "$work/bare"; cat "$work/first.der"; trailer "$(size "$work/first.der")" 3; } > "$out/unframed-version3"
{ cat "$work/bare"; for _ in $(seq 64); do trailer 0 2; done; } > "$out/stacked-empty"
{ cat "$work/bare"; trailer 1000 2; } > "$out/oversized"

# An RPM lead (magic, version 3.0, signature type 5) and a signature header
# with SIZE (tag 1000) and LONGSIZE (tag 270), padded to 8 bytes, then the
# header and payload bytes it announces, then a block.
lead() {
    printf '\xed\xab\xee\xdb\x03\x00'
    head -c 72 /dev/zero
    printf '\x00\x05'
    head -c 16 /dev/zero
}
payload=64
signature_header() {
    printf '\x8e\xad\xe8\x01\x00\x00\x00\x00'
    be32 2; be32 12
    be32 1000; be32 4; be32 0; be32 1
    be32 270; be32 5; be32 4; be32 1
    be32 "$payload"; be32 0; be32 "$payload"
    head -c 4 /dev/zero # padding: 16 + 32 + 12 = 60 bytes
}
{ lead; signature_header; head -c "$payload" /dev/zero | tr '\0' 'p'; } > "$work/rpm"
cp "$work/rpm" "$out/rpm-bare"
{ cat "$work/rpm"; block_v2 "$work/first.der"; } > "$out/rpm-version2"
{ cat "$work/rpm"; block_v3 "$work/first.der"; } > "$out/rpm-version3"
{ cat "$work/rpm"; trailer "$(size "$work/rpm")" 2; } > "$out/rpm-claimed-whole"
