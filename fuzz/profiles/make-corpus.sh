#!/bin/sh
# Writes the seed corpus of the profile pattern fuzzer into $1: header strings
# of the shapes the profile lists are written for, one file each.
set -eu
out=$1
mkdir -p "$out"
n=0
seed() {
    n=$((n + 1))
    printf "$1" > "$out/seed-$n"
}
seed 'libQt5Core.so.5(Qt_5.15)'
seed 'libQt5Core.so.5(Qt_5_PRIVATE_API)'
seed 'libQt5WebEngine.so.5'
seed 'libc.so.6(GLIBC_2.17)'
seed 'libdl.so.2(GLIBC_PRIVATE)'
seed 'libssl.so.1.1(OPENSSL_1_1_1)'
seed 'libssl.so.1.1(libssl.so.1.1)'
seed 'libudev.so.1(LIBUDEV_183)'
seed 'libsystemd.so.0(LIBSYSTEMD_209)'
seed 'libstdc++.so.6(GLIBCXX_3.4.21)'
seed 'libfoo.so.1()(64bit)'
seed 'rpmlib(PayloadIsZstd)'
seed 'connman-qt5'
seed 'QtQuick 2.6'
seed 'Pelora.Homescreen 1.0'
seed 'Pelora.Mdm 1.0'
seed 'org.kde.bluezqt'
seed 'Taliro.Controls 1.0'
seed '/usr/bin/org.example.app'
seed '/usr/lib64/qt5/qml/Module/qmldir'
seed '/usr/lib/connman/plugins-vpn/vpn.so'
seed '/etc/trusted-sources/store.pem'
seed 'application/x-rpm'
seed 'Internet'
seed 'org.example.app'
seed 'org..example'
seed 'Evil\033[2K\r(INFO)\t\tall good'
seed 'caf\303\251 \342\202\254 \360\237\223\246'
seed 'csi\302\2332J \351t\351'
