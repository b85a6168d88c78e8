#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the
# Debian packaging (scripts/package.sh) need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates
  qtbase5-dev
  librpm-dev rpm rpm2cpio cpio
  libssl-dev openssl libengine-gost-openssl
  libsqlite3-dev
  libglib2.0-dev libjson-glib-dev
  libboost1.81-dev libboost-json1.81-dev libboost-filesystem1.81-dev libboost-system1.81-dev
  libpng-dev libicu-dev libelf-dev libzstd-dev zstd xz-utils gzip
  googletest libgtest-dev libgmock-dev
  file
  gnupg gpg-agent
  groff-base man-db
  softhsm2 opensc libengine-pkcs11-openssl
  libxml2-utils
  debhelper dpkg-dev lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
