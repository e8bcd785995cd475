#!/bin/sh
# build_integration.sh BUILD_DIR SOURCE_DIR: builds a sample project of 20
# applications against a scratch install: with CMake under Ninja and under
# Unix Makefiles (through a toolchain file that confines find_package to an
# empty sysroot), with make (krelt.mk) and with Meson (krelt.pc). Each
# build, with -j8, converts all 20, one into a folder of its own, and
# leaves no temporary file; then touching one image reconverts that one,
# changing one heap size that one, a new krelt all, and an unchanged build
# nothing (a conversion is a .v newer than a mark made before the step).
# Then krelt's source tree in native and cross-compiling parents, the
# configure errors, and tests/common/size_grammar.txt through both the
# CMake function and the make include, all in a scratch folder.
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
scratch=$(mktemp -d "$build/build-integration.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" > /dev/null
apps=$(seq -f 'app%02g' 1 20)

fail() { echo "build_integration: $*" >&2; exit 1; }
# run WHAT COMMAND...: quiet unless it fails.
run() {
  what=$1
  shift
  "$@" > "$scratch/log" 2>&1 || { cat "$scratch/log"; fail "$what failed"; }
}
# refused WHAT MESSAGE COMMAND...: the command fails, printing MESSAGE
# (CMake's lines joined).
refused() {
  what=$1 message=$2
  shift 2
  ! "$@" > "$scratch/log" 2>&1 || fail "accepted: $what"
  tr -s ' \n' '  ' < "$scratch/log" | grep -q -F -- "$message" ||
    { cat "$scratch/log"; fail "$what: no message '$message'"; }
}
# missing COMMAND WHAT: a note, or a failure under CI.
missing() {
  ! command -v "$1" > /dev/null || return 1
  [ "${CI:-}" != true ] || fail "no $1"
  echo "note: no $1: $2 not tried"
}

# The sample: 20 images, app20's made in the build from app01's; app19
# converted into out/; heap sizes in files of their own, which a step
# edits.
project=$scratch/project
mkdir -p "$project/images" "$project/sizes"
for app in $apps; do
  [ "$app" = app20 ] || cp "$source/examples/sample.bim" "$project/images/$app.bim"
done
cat > "$project/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.25)
project(sample NONE)
find_package(krelt 1.0 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
enable_testing()
include(sizes.cmake)
foreach(i RANGE 1 18)
  string(REGEX REPLACE "^(.)$" "0\\1" n ${i})
  krelt_add_application(app${n} IMAGE images/app${n}.bim HEAP ${heap_${n}}
                        MMAREA 1m CHECK)
endforeach()
krelt_add_application(app19 IMAGE images/app19.bim HEAP 64k MMAREA 1m CHECK
                      OUTPUT out/app19.v)
add_custom_command(OUTPUT made.bim
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/images/app01.bim made.bim
  DEPENDS images/app01.bim)
krelt_add_application(app20 IMAGE made.bim HEAP 64k MMAREA 1m CHECK)
EOF
made() { [ "$1" = app19 ] && echo out/app19.v || echo "$1.v"; }
cat > "$project/Makefile" << EOF
include $prefix/share/krelt/krelt.mk
include sizes.mk
KRELT := $prefix/bin/krelt
all: $(for app in $apps; do made $app; done | tr '\n' ' ')
out/app19.v: app19.bim
$(for app in $apps; do echo "$(made $app): KRELT_MMAREA := 1m"; done)
app20.bim: app01.bim
	cp \$< \$@
EOF
cat > "$project/meson.build" << 'EOF'
project('sample')
krelt_dep = dependency('krelt', version: '>=1.0', native: true)
krelt = find_program(krelt_dep.get_variable(pkgconfig: 'krelt'))
krelt_info = find_program(krelt_dep.get_variable(pkgconfig: 'krelt_info'))
subdir('sizes')
image = custom_target('made', input: 'images/app01.bim', output: 'made.bim',
                      command: ['cp', '@INPUT@', '@OUTPUT@'])
foreach i : range(1, 21)
  app = 'app@0@@1@'.format(i < 10 ? '0' : '', i)
  heap = get_variable('heap_' + app)
  v = custom_target(app, input: i < 20 ? 'images/' + app + '.bim' : image,
    output: app + '.v', command: [krelt, '@INPUT@', '@OUTPUT@', heap, '1m'],
    build_by_default: true)
  test(app, krelt_info, args: ['--heap', heap, '--mmarea', '1m', v])
endforeach
EOF
sizes() {  # HEAP_OF_APP05
  rm -f "$project/sizes.cmake" "$project/sizes.mk" "$project/sizes/meson.build"
  for app in $apps; do
    heap=64k
    [ "$app" != app05 ] || heap=$1
    echo "set(heap_${app#app} $heap)" >> "$project/sizes.cmake"
    echo "$(made $app): KRELT_HEAP := $heap" >> "$project/sizes.mk"
    echo "heap_$app = '$heap'" >> "$project/sizes/meson.build"
  done
}
cat > "$scratch/toolchain.cmake" << EOF
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_FIND_ROOT_PATH $scratch/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
mkdir "$scratch/sysroot"

# converted DIR EXPECTED...: the .v files newer than the mark are those.
converted() {
  dir=$1
  shift
  got=$(cd "$dir" && find . -name '*.v' -newer "$scratch/mark" |
          sed 's|.*/||; s|\.v$||' | LC_ALL=C sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "$flavour, $step: converted '$got', expected '$want'"
  echo "$flavour, $step: $(echo $got | wc -w) converted"
}
mark() {
  step=$1
  touch "$scratch/mark"
}

for flavour in ninja makefiles make meson; do
  case $flavour in
    ninja) missing ninja "CMake under Ninja" && continue ;;
    meson) missing meson Meson && continue ;;
  esac
  sizes 64k
  work=$scratch/$flavour
  images=$project/images
  build_it() { run "$flavour: the build" cmake --build "$work" -j8; }
  case $flavour in
    make)
      cp -r "$project" "$work"
      mv "$work"/images/* "$work/"
      images=$work
      build_it() { run "$flavour: make" make -s -C "$work" -j8; }
      ;;
    meson)
      run "meson setup" env PKG_CONFIG_PATH="$prefix/share/pkgconfig" \
        meson setup "$work" "$project"
      build_it() { run "$flavour: the build" ninja -C "$work" -j8; }
      ;;
    ninja)
      run "$flavour: configure" cmake -S "$project" -B "$work" -G Ninja \
        -DCMAKE_PREFIX_PATH="$prefix"
      ;;
    makefiles)
      run "$flavour: configure" cmake -S "$project" -B "$work" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$scratch/toolchain.cmake" -DCMAKE_PREFIX_PATH="$prefix"
      ;;
  esac
  mark "first build, -j8"
  build_it
  converted "$work" $apps
  left=$(find "$work" -name '*.tmp')
  [ -z "$left" ] || fail "$flavour: left behind: $left"
  mark "nothing changed"
  build_it
  converted "$work"
  if [ $flavour = make ]; then
    make -q -C "$work" || fail "make -q: out of date when nothing changed"
    ! make -n -C "$work" | grep -q krelt || fail "make -n: conversions when nothing changed"
  fi
  mark "app07's image touched"
  touch "$images/app07.bim"
  build_it
  converted "$work" app07
  mark "app05's heap changed"
  sizes 128k
  [ $flavour != make ] || cp "$project/sizes.mk" "$work/"
  build_it
  converted "$work" app05
  mark "krelt upgraded"
  touch "$prefix/bin/krelt"
  build_it
  converted "$work" $apps
  mark "nothing changed"
  build_it
  converted "$work"

  # Every result is what its sizes make.
  case $flavour in
    make)
      for app in $apps; do
        heap=64k
        [ $app != app05 ] || heap=128k
        run "krelt-info on $app" "$prefix/bin/krelt-info" --heap $heap --mmarea 1m \
          "$work/$(made $app)"
      done
      ;;
    meson) run "$flavour: the checks" meson test -C "$work" ;;
    *)
      run "$flavour: the checks" ctest --test-dir "$work"
      [ "$(grep -c 'Passed' "$scratch/log")" -eq 20 ] || fail "$flavour: not 20 checks passed"
      ;;
  esac
done

# krelt's source tree taken in with add_subdirectory, by a native parent
# and by parents that cross-compile, with a target whose file is the image
# (as a linked image's would be): krelt is built for this machine, the
# check passes (under no emulator of the target's), a second build
# converts nothing, and the parent's install holds nothing of krelt.
cp "$source/examples/sample.bim" "$scratch/app.bim"
cat > "$scratch/CMakeLists.txt" << EOF
cmake_minimum_required(VERSION 3.25)
project(tree CXX)
enable_testing()
add_subdirectory("$source" krelt)
add_executable(image IMPORTED)
set_target_properties(image PROPERTIES IMPORTED_LOCATION $scratch/app.bim)
krelt_add_application(app IMAGE image HEAP 64k MMAREA 1m CHECK)
EOF
printf 'set(CMAKE_SYSTEM_NAME Linux)\nset(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)\n' > "$scratch/aarch64.cmake"
printf 'set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)\n' > "$scratch/mingw.cmake"
generator=Ninja
command -v ninja > /dev/null || generator="Unix Makefiles"
for parent in native:c++ aarch64:aarch64-linux-gnu-g++ mingw:x86_64-w64-mingw32-g++; do
  name=${parent%%:*}
  flavour="$name parent"
  missing "${parent#*:}" "$flavour" && continue
  dir=$scratch/$name
  # Both generators: the Windows parent under Unix Makefiles.
  [ $name = mingw ] && set -- -G "Unix Makefiles" || set -- -G "$generator"
  [ $name = native ] || set -- "$@" -DCMAKE_TOOLCHAIN_FILE="$scratch/$name.cmake"
  run "$flavour: configure" cmake -S "$scratch" -B "$dir" "$@"
  mark "first build"
  run "$flavour: the build" cmake --build "$dir" -j8
  converted "$dir" app
  run "$flavour: the check" ctest --test-dir "$dir"
  mark "nothing changed"
  run "$flavour: the build" cmake --build "$dir" -j8
  converted "$dir"
  cmake --install "$dir" --prefix "$dir/installed" > /dev/null
  [ -z "$(find "$dir/installed" -type f 2>/dev/null)" ] ||
    fail "$flavour: installed $(find "$dir/installed" -type f)"
done
if [ -d "$scratch/native" ]; then
  run "KRELT_INSTALL=ON" cmake -S "$scratch" -B "$scratch/native" -DKRELT_INSTALL=ON
  run "KRELT_INSTALL=ON: the build" cmake --build "$scratch/native" -j8
  cmake --install "$scratch/native" --prefix "$scratch/asked" > /dev/null
  [ -x "$scratch/asked/bin/krelt" ] || fail "KRELT_INSTALL=ON installed no krelt"
fi
[ ! -d "$scratch/aarch64" ] ||
  refused "a cross parent with no compiler for this machine" \
    "install krelt on the build machine" cmake -S "$scratch" -B "$scratch/nohost" \
    -DCMAKE_TOOLCHAIN_FILE="$scratch/aarch64.cmake" -DKRELT_HOST_CXX=/nonexistent/c++

# Configure errors, in a project of these lines after find_package.
configure() {  # PREFIX LINE...
  package=$1
  shift
  rm -rf "$scratch/bad/build"
  mkdir -p "$scratch/bad"
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(bad NONE)\n%s\n' \
    'find_package(krelt 1.0 REQUIRED)' "$@" > "$scratch/bad/CMakeLists.txt"
  cmake -S "$scratch/bad" -B "$scratch/bad/build" -DCMAKE_PREFIX_PATH="$package"
}
refused "a missing IMAGE" "krelt_add_application(app): IMAGE is required" \
  configure "$prefix" 'krelt_add_application(app HEAP 64k)'
refused "a custom target as IMAGE" "krelt_add_application(app): IMAGE made is a UTILITY target, which links no image" \
  configure "$prefix" 'add_custom_target(made)' 'krelt_add_application(app IMAGE made HEAP 64k)'
refused "find_package(krelt 2.0) with version 1" 'compatible with requested version "2.0"' \
  configure "$prefix" 'find_package(krelt 2.0 REQUIRED)'
cp -r "$prefix" "$scratch/broken"
rm "$scratch/broken/bin/krelt"
refused "a package without its program" "$scratch/broken/bin/krelt is missing" \
  configure "$scratch/broken"

# The size grammar: each accepted text, as MMAREA (which krelt records as
# it reads it), gives what the table says; each refused one, as HEAP or
# MMAREA in turn (HEAP when empty: make takes an empty MMAREA for none),
# stops the configure step or make, naming the application or file, the
# argument and the text, and nothing is converted.
grammar=$scratch/grammar
mkdir "$grammar"
cp "$source/examples/sample.bim" "$grammar/app.bim"
printf 'include %s/share/krelt/krelt.mk\nKRELT := %s/bin/krelt\n' "$prefix" "$prefix" \
  > "$grammar/Makefile"
n=0 oks="" good="" bad=""
while IFS='|' read -r verdict text value; do
  n=$((n + 1))
  argument=MMAREA sizes="HEAP 64k MMAREA \"$text\""
  if [ $verdict = bad ] && { [ $((n % 2)) -eq 1 ] || [ -z "$text" ]; }; then
    argument=HEAP sizes="HEAP \"$text\""
  fi
  call="krelt_add_application(r$n IMAGE app.bim $sizes)"
  printf 'r%s.v: app.bim\nr%s.v: KRELT_HEAP := 64k\nr%s.v: KRELT_%s := $(empty)%s\n' \
    $n $n $n $argument "$text" >> "$grammar/Makefile"
  if [ $verdict = ok ]; then
    oks="$oks $n:$value" good="$good
$call"
    continue
  fi
  bad="$bad
$call"
  echo "krelt_add_application(r$n): $argument '$text' is not a size" >> "$scratch/messages"
  message="r$n.v: KRELT_$argument '$text' is not a size"
  [ -n "$text" ] || message="r$n.v: no KRELT_HEAP"
  refused "make, $argument '$text'" "$message" make -C "$grammar" "r$n.v"
done << EOF
$(grep -v -e '^#' -e '^verdict|' "$source/tests/common/size_grammar.txt")
EOF
[ -z "$(find "$grammar" -name '*.v')" ] || fail "make converted a refused size"
run "make, the accepted sizes" make -s -C "$grammar" $(for row in $oks; do echo "r${row%:*}.v"; done)
cp "$grammar/app.bim" "$scratch/bad/"
run "CMake, the accepted sizes" configure "$prefix" "$good"
run "CMake, the accepted sizes: the build" cmake --build "$scratch/bad/build"
for row in $oks; do
  for v in "$grammar/r${row%:*}.v" "$scratch/bad/build/r${row%:*}.v"; do
    "$prefix/bin/krelt-info" --json "$v" | grep -q "\"mmarea_size\":${row#*:}," ||
      fail "$v: mmarea_size is not ${row#*:}"
  done
done
refused "CMake, the refused sizes" "is not a size" configure "$prefix" "$bad"
while IFS= read -r message; do
  tr -s ' \n' '  ' < "$scratch/log" | grep -q -F -- "$message" ||
    { cat "$scratch/log"; fail "CMake: no message \"$message\""; }
done < "$scratch/messages"

# CHECK holds a .v to its image and to MAX_MEMORY: a .v left from before
# its image changed fails, as does one past its memory budget.
mkdir "$scratch/stale"
cp "$source/examples/sample.bim" "$scratch/stale/app.bim"
cat > "$scratch/stale/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.25)
project(stale NONE)
find_package(krelt 1.0 REQUIRED)
enable_testing()
krelt_add_application(app IMAGE app.bim HEAP 64k CHECK MAX_MEMORY 1m)
krelt_add_application(tight IMAGE app.bim HEAP 64k CHECK MAX_MEMORY 64k)
EOF
flavour=stale
cmake -S "$scratch/stale" -B "$scratch/stale/build" \
  -DCMAKE_PREFIX_PATH="$prefix" > "$scratch/log" 2>&1 &&
  cmake --build "$scratch/stale/build" >> "$scratch/log" 2>&1 ||
  { cat "$scratch/log"; fail "$flavour: the build failed"; }
check() {  # TEST: its line from ctest; whether it passed
  status=0
  ctest --test-dir "$scratch/stale/build" -R "^$1\$" > "$scratch/log" 2>&1 ||
    status=1
  grep 'Test *#' "$scratch/log"
  return $status
}
check app.check || { cat "$scratch/log"; fail "$flavour: a fresh .v failed"; }
! check tight.check || fail "$flavour: a .v past MAX_MEMORY passed"
printf 'x' >> "$scratch/stale/app.bim"
! check app.check || fail "$flavour: a stale .v passed its CHECK"

echo "build_integration: CMake, make and Meson convert exactly what changed; $n sizes checked in both"
