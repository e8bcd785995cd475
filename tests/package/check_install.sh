#!/bin/sh
# check_install.sh install|package BUILD_DIR SOURCE_DIR
# Installs into a scratch root (cmake --install with DESTDIR), or builds the
# .deb and unpacks it there, then runs the installed programs on the sample
# image and checks the man pages are in place.
set -eu
mode=$1 build=$2 source=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

case $mode in
  install)
    DESTDIR=$root/destdir cmake --install "$build" --prefix /usr > /dev/null
    tree=$root/destdir
    ;;
  package)
    (cd "$root" && cpack -G DEB --config "$build/CPackConfig.cmake" \
       -B "$root/out" > /dev/null)
    deb=$(ls "$root"/out/krelt_*.deb)
    dpkg-deb --info "$deb" | grep -q 'Package: krelt'
    dpkg-deb -x "$deb" "$root/unpacked"
    tree=$root/unpacked
    echo "package: $(basename "$deb"), $(wc -c < "$deb") bytes"
    ;;
  *) echo "usage: check_install.sh install|package BUILD SOURCE" >&2; exit 2 ;;
esac

for f in usr/bin/krelt usr/bin/krelt-info; do
  [ -x "$tree/$f" ] || { echo "missing $f" >&2; exit 1; }
done
ls "$tree"/usr/share/man/man1/krelt.1* "$tree"/usr/share/man/man1/krelt-info.1* \
  > /dev/null

"$tree/usr/bin/krelt" "$source/examples/sample.bim" "$root/sample.v" 64k 1m
"$tree/usr/bin/krelt-info" "$root/sample.v" | grep -q '^result: ok'
cmp -i 36 "$source/examples/sample.bim" "$root/sample.v"
echo "$mode: krelt and krelt-info run from $tree"
