#!/bin/sh
# check_install.sh install|package BUILD_DIR SOURCE_DIR [RUNNER DEB_ARCH]
# Installs into a scratch root (cmake --install with DESTDIR), or builds the
# .deb and unpacks it there, then runs the installed programs on the sample
# image and checks the man pages are in place. A cross build's programs run
# through RUNNER (qemu-user), and its package must be for DEB_ARCH.
set -eu
mode=$1 build=$2 source=$3 runner=${4:-} arch=${5:-$(dpkg --print-architecture)}
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
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
      { echo "$deb is for $(dpkg-deb -f "$deb" Architecture), not $arch" >&2; exit 1; }
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

$runner "$tree/usr/bin/krelt" "$source/examples/sample.bim" "$root/sample.v" 64k 1m
$runner "$tree/usr/bin/krelt-info" "$root/sample.v" | grep -q '^result: ok'
cmp -i 36 "$source/examples/sample.bim" "$root/sample.v"
echo "$mode: krelt and krelt-info run from $tree"
