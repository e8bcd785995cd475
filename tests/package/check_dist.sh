#!/bin/sh
# check_dist.sh DIST_DIR [SOURCE_DIR]: checks the release `make dist` made.
# lintian --pedantic passes every .deb (errors, warnings and pedantic tags
# fail unless overridden with a reason); the source tarball holds the files
# of the commit; each .deb, tarball and zip holds what it should and is
# unpacked into a scratch folder, and the programs in it convert the
# sample image and check the result, under qemu-user or Wine where the
# processor or system is another; SHA256SUMS covers every file. Under
# CI=true a program that cannot be run here fails the check.
set -eu
dist=$(cd "$1" && pwd)
source=$(cd "${2:-.}" && pwd)
scratch=$(mktemp -d)
trap 'cleanup' EXIT
server=""
cleanup() {
  [ -z "$server" ] || "$server" -k > /dev/null 2>&1 || true
  rm -rf "$scratch"
}
# The table of platforms is read from the top of the source tree.
cd "$source"
. tools/common.sh
host_arch=$(dpkg --print-architecture 2>/dev/null || echo -)
checked=0

fail() { echo "check_dist: $*" >&2; exit 1; }

# runner NAME: the emulator of platform NAME, found in PATH or
# /usr/lib/wine; empty when it is missing.
runner() {
  emulator=$(platform_field "$1" emulator) || fail "no platform $1"
  case $emulator in
    */*) [ ! -x "$emulator" ] || echo "$emulator" ;;
    *) command -v "$emulator" ||
         { [ -x "/usr/lib/wine/$emulator" ] && echo "/usr/lib/wine/$emulator"; } ||
         true ;;
  esac
}

# converts DIR KRELT KRELT_INFO RUNNER: the programs in DIR convert the
# sample image and find the result ok (run from a folder of their own, so
# Wine gets relative paths).
converts() {
  work=$scratch/run-$checked
  mkdir "$work"
  cp "$source/examples/sample.bim" "$work/"
  (cd "$work" && $4 "$1/$2" sample.bim sample.v 64k 1m &&
     $4 "$1/$3" sample.v > info.txt) ||
    fail "$1/$2 could not convert the sample"
  grep -q '^result: ok' "$work/info.txt" || fail "$1/$3: $(cat "$work/info.txt")"
  cmp -s -i 36 "$source/examples/sample.bim" "$work/sample.v" ||
    fail "$1/$2 changed the body"
}

# cannot_run WHAT WHY: a note, or a failure under CI.
cannot_run() {
  [ "${CI:-}" != true ] || fail "$1 cannot run here: $2"
  echo "note: $1 not run: $2"
}

# same_files DIR LIST: DIR holds exactly the files of LIST.
same_files() {
  got=$(cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
  want=$(printf '%s\n' $2 | LC_ALL=C sort | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "$1 holds: $got; expected: $want"
}

[ -s "$dist/SHA256SUMS" ] || fail "no SHA256SUMS in $dist"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
for f in "$dist"/*; do
  name=$(basename "$f")
  [ "$name" = SHA256SUMS ] || grep -q "  $name\$" "$dist/SHA256SUMS" ||
    fail "$name is not in SHA256SUMS"
done

for deb in "$dist"/*.deb; do
  [ -e "$deb" ] || fail "no .deb in $dist"
  need lintian lintian
  arch=$(dpkg-deb -f "$deb" Architecture)
  # Errors, warnings and pedantic tags fail; an override needs its reason
  # in the file.
  if ! report=$(lintian --pedantic --fail-on error,warning,pedantic "$deb" 2>&1); then
    echo "$report"
    fail "lintian: $(basename "$deb")"
  fi
  echo "$report" | grep -v -e 'running with root privileges' -e '^$' || true
  tree=$scratch/deb-$arch
  dpkg-deb -x "$deb" "$tree"
  [ -f "$tree/usr/share/doc/krelt/copyright" ] || fail "$deb: no copyright file"
  run=""
  if [ "$arch" != "$host_arch" ]; then
    name=$(platform_with debian "$arch")
    [ -n "$name" ] || fail "$(basename "$deb"): no platform for $arch"
    run=$(runner "$name")
    [ -n "$run" ] || { cannot_run "$(basename "$deb")" "no emulator"; continue; }
  fi
  converts "$tree/usr/bin" krelt krelt-info "$run"
  checked=$((checked + 1))
  echo "ok: $(basename "$deb") ($(wc -c < "$deb") bytes): lintian clean ($(lintian --show-overrides "$deb" 2>/dev/null | grep -c '^O:') overridden), runs"
done

# The source tarball holds the files of the commit, under krelt-VERSION/.
version=$(sed -n 's/^project(krelt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
src=$dist/krelt-$version.tar.gz
[ -f "$src" ] || fail "no source tarball krelt-$version.tar.gz"
tar -C "$scratch" -xzf "$src"
if command -v git > /dev/null && git -C "$source" rev-parse HEAD > /dev/null 2>&1; then
  same_files "$scratch/krelt-$version" "$(git -C "$source" ls-tree -r --name-only HEAD)"
fi
echo "ok: $(basename "$src") ($(wc -c < "$src") bytes): the source"

for tgz in "$dist"/*-linux-*.tar.gz; do
  [ -e "$tgz" ] || fail "no tarball in $dist"
  dir=$(basename "$tgz" .tar.gz)
  tar -C "$scratch" -xzf "$tgz"
  same_files "$scratch/$dir" "bin/krelt bin/krelt-info README.md LICENSE changelog
    share/man/man1/krelt.1.gz share/man/man1/krelt-info.1.gz
    share/doc/krelt/README.md.gz share/doc/krelt/copyright
    share/doc/krelt/changelog.gz share/krelt/krelt.mk
    share/pkgconfig/krelt.pc share/cmake/krelt/kreltConfig.cmake
    share/cmake/krelt/kreltConfigVersion.cmake
    share/cmake/krelt/kreltFunctions.cmake"
  processor=${dir##*-linux-}
  run=""
  if [ "$processor" != "$(uname -m)" ]; then
    name=$(platform_with triple "$processor-linux-gnu")
    [ -n "$name" ] || fail "$dir: no platform for $processor"
    run=$(runner "$name")
    [ -n "$run" ] || { cannot_run "$dir" "no emulator"; continue; }
  fi
  converts "$scratch/$dir/bin" krelt krelt-info "$run"
  checked=$((checked + 1))
  echo "ok: $(basename "$tgz") ($(wc -c < "$tgz") bytes): complete, runs"
done

for zip in "$dist"/*.zip; do
  [ -e "$zip" ] || break
  need unzip unzip
  dir=$(basename "$zip" .zip)
  (cd "$scratch" && unzip -q "$zip")
  same_files "$scratch/$dir" \
    "krelt.exe krelt-info.exe README.txt LICENSE.txt changelog.txt krelt.txt
     krelt-info.txt krelt.mk pkgconfig/krelt.pc cmake/kreltConfig.cmake
     cmake/kreltConfigVersion.cmake cmake/kreltFunctions.cmake"
  # The README is the one for Windows, and the pkg-config file finds the
  # programs and the include in the folder.
  grep -q 'CMAKE_PREFIX_PATH=C:' "$scratch/$dir/README.txt" ||
    fail "$dir/README.txt is not the README for Windows"
  [ "$(PKG_CONFIG_PATH=$scratch/$dir/pkgconfig pkg-config --variable=krelt krelt)" = \
    "$scratch/$dir/pkgconfig/../krelt.exe" ] || fail "$dir/pkgconfig/krelt.pc: no krelt.exe"
  for t in README.txt LICENSE.txt changelog.txt krelt.txt krelt-info.txt; do
    # Every line ends in CR LF: as many lines end in CR as there are LFs.
    lines=$(wc -l < "$scratch/$dir/$t")
    [ "$lines" -gt 0 ] &&
      [ "$(grep -c "$(printf '\r')\$" "$scratch/$dir/$t")" -eq "$lines" ] ||
      fail "$dir/$t is not text with CR LF line ends"
  done
  name=${dir##*-}
  run=$(runner "$name")
  package=$(platform_field "$name" emulator-package)
  # Where the kernel runs no 32-bit x86 program, its Wine is not installed.
  case $package in
    *:i386)
      if ! "$source/tools/can_run_i386" 2>/dev/null; then
        echo "note: $dir not run: this kernel does not execute 32-bit x86 programs"
        continue
      fi
      ;;
  esac
  if [ -z "$run" ]; then
    cannot_run "$dir" "no $(platform_field "$name" emulator)"
    continue
  fi
  export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"
  server=$(dirname "$(readlink -f "$run")")/wineserver
  [ -x "$server" ] || server=wineserver
  # The first start makes the prefix, and says so.
  "$run" cmd /c exit 0 < /dev/null > /dev/null 2>&1 || true
  converts "$scratch/$dir" krelt.exe krelt-info.exe "$run"
  checked=$((checked + 1))
  echo "ok: $(basename "$zip") ($(wc -c < "$zip") bytes): complete, CR LF text, runs"
done

[ "$checked" -gt 0 ] || fail "no archive could be run"
echo "check_dist: $checked archives unpacked and run"
