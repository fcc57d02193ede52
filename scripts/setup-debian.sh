#!/bin/sh
# Installs everything the build, the tests and the demo need on Debian 12,
# and what the README's examples use: OpenSC's PKCS#11 module for smart cards
# and USB tokens and p11tool (gnutls-bin) to find a key on a token.
set -e
SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
packages="cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  wine64 wine googletest msitools wixl xvfb x11-utils imagemagick \
  fonts-noto-cjk fonts-dejavu-core osslsigncode openssl python3 \
  libengine-pkcs11-openssl softhsm2 opensc gnutls-bin"
missing=
for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
