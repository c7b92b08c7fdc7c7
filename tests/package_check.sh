#!/usr/bin/env bash
# Builds the Debian package in the build tree, checks what it holds, unpacks
# it into a scratch root and runs the unpacked tool on the bundled example.
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$1
cd "$build"
rm -f ampdots_*.deb
cpack -G DEB > cpack.log || { cat cpack.log; exit 1; }
deb=$(ls ampdots_*_*.deb)
listing=$(dpkg-deb -c "$deb")
echo "$listing"
for path in ./usr/bin/ampdots ./usr/share/man/man1/ampdots.1.gz \
            ./usr/share/bash-completion/completions/ampdots \
            ./usr/share/doc/ampdots/examples/example.wav ./usr/share/doc/ampdots/copyright; do
  grep -q " $path\$" <<< "$listing" || { echo "missing from the package: $path"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Package)" = ampdots ]
dpkg-deb -f "$deb" Depends | grep -q libc6
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || { echo "Recommends is not bash-completion"; exit 1; }
dpkg-deb -f "$deb" Maintainer | grep -qv invalid || { echo "placeholder maintainer"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
gzip -t "$root/usr/share/man/man1/ampdots.1.gz"
copyright=$root/usr/share/doc/ampdots/copyright
grep -q "^License: Expat" "$copyright" && grep -q "^Copyright: 2026 the ampdots authors" "$copyright" &&
  grep -q "^ Permission is hereby granted" "$copyright" || { echo "copyright file is not the licence"; exit 1; }
out=$("$root/usr/bin/ampdots" "$root/usr/share/doc/ampdots/examples/example.wav" 0 2)
[ "$(head -n 1 <<< "$out")" = "Ampdots 1.01 by Velbrand" ]
[ "$(tail -n 1 <<< "$out")" = "Peak over interval -2.1 dB" ]
echo "installed and ran $deb"
