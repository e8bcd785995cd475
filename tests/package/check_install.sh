#!/bin/sh
# check_install.sh install|package BUILD_DIR SOURCE_DIR [RUNNER DEB_ARCH]
# Installs into a scratch root (cmake --install with DESTDIR), or builds the
# .deb and unpacks it there, then runs the installed programs on the sample
# image and checks the man pages, the CMake package and the make include
# are in place and that every version is the one of project(). A cross
# build's programs run through RUNNER (qemu-user), and its package must be
# for DEB_ARCH, Multi-Arch: foreign, and name the C library it carries.
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
    [ "$(dpkg-deb -f "$deb" Multi-Arch)" = foreign ] ||
      { echo "$deb is not Multi-Arch: foreign" >&2; exit 1; }
    # The source package and version of an installed C library.
    built_using=$(dpkg-deb -f "$deb" Static-Built-Using)
    dpkg-query -W -f='${source:Package} (= ${source:Version})\n' 'musl-dev*' \
      'libc6-dev*' 2>/dev/null | grep -q -x -F "$built_using" ||
      { echo "$deb: Static-Built-Using '$built_using' is no C library here" >&2; exit 1; }
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
  "$tree"/usr/share/doc/krelt/README.md.gz "$tree"/usr/share/krelt/krelt.mk \
  "$tree"/usr/share/cmake/krelt/kreltConfig.cmake > /dev/null
# The lintian override is the package's alone.
[ "$mode" = package ] && override=1 || override=0
[ "$(find "$tree/usr/share" -path '*lintian/overrides/krelt' | wc -l)" -eq $override ] ||
  { echo "$mode: the lintian override is wrongly present or missing" >&2; exit 1; }
# pkg-config finds the programs and the make include by full path.
for v in krelt:bin/krelt krelt_info:bin/krelt-info makefile:share/krelt/krelt.mk; do
  [ "$(PKG_CONFIG_PATH=$tree/usr/share/pkgconfig pkg-config --variable=${v%%:*} krelt)" = \
    "$tree/usr/share/pkgconfig/../../${v#*:}" ] || { echo "krelt.pc: no $v" >&2; exit 1; }
done
# The copyright file names one C library: in a package, the one linked.
copyright=$tree/usr/share/doc/krelt/copyright
[ "$(grep -c -e 'musl (Copyright' -e 'the GNU C Library' "$copyright")" -eq 1 ] ||
  { echo "the copyright file names no C library, or two" >&2; exit 1; }
case ${built_using:-none} in
  musl*) grep -q -F 'musl (Copyright' "$copyright" ;;
  glibc*) grep -q -F 'the GNU C Library' "$copyright" ;;
esac || { echo "the copyright file does not name $built_using" >&2; exit 1; }

# One version everywhere: project(), the programs, the CMake package, the
# pkg-config file, the package and the changelog.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$($runner "$tree/usr/bin/krelt-info" --version | head -n 1)" = \
  "krelt-info (krelt) $version" ] ||
  { echo "krelt-info --version is not krelt-info (krelt) $version" >&2; exit 1; }
grep -q -a -F "krelt version $version" "$tree/usr/bin/krelt" ||
  { echo "krelt carries no version $version" >&2; exit 1; }
grep -q -F "set(PACKAGE_VERSION \"$version\")" \
  "$tree/usr/share/cmake/krelt/kreltConfigVersion.cmake" ||
  { echo "kreltConfigVersion.cmake is not $version" >&2; exit 1; }
[ "$(PKG_CONFIG_PATH=$tree/usr/share/pkgconfig pkg-config --modversion krelt)" = "$version" ] ||
  { echo "krelt.pc is not $version" >&2; exit 1; }
for page in krelt krelt-info; do
  zcat "$tree/usr/share/man/man1/$page.1.gz" | head -1 | grep -q -F "\"krelt $version\"" ||
    { echo "$page.1 is not of krelt $version" >&2; exit 1; }
done
zcat "$tree/usr/share/doc/krelt/changelog.gz" | head -1 | grep -q -F "krelt ($version)" ||
  { echo "the changelog's last entry is not $version" >&2; exit 1; }
[ "$mode" = install ] || [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  { echo "$deb is not version $version" >&2; exit 1; }

$runner "$tree/usr/bin/krelt" "$source/examples/sample.bim" "$root/sample.v" 64k 1m
$runner "$tree/usr/bin/krelt-info" "$root/sample.v" | grep -q '^result: ok'
cmp -i 36 "$source/examples/sample.bim" "$root/sample.v"
echo "$mode: krelt and krelt-info run from $tree"
