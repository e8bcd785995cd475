#!/bin/sh
# build_integration.sh BUILD_DIR SOURCE_DIR: installs the build into a
# scratch prefix and builds a sample project of 20 applications against
# it: with CMake (find_package(krelt), krelt_add_application) under Ninja
# where it is installed and under Unix Makefiles, the latter through a
# toolchain file that confines find_package to an empty sysroot; and with
# make (krelt.mk). Each build, with -j8, must convert all 20 and leave no
# temporary file; then touching one image reconverts exactly that one,
# changing one heap size that one, and an unchanged build nothing. A
# conversion is a .v newer than a mark made before the step. Then one
# application from krelt's source tree (add_subdirectory) whose image is a
# target's file, and the configure errors. Everything happens in a scratch
# folder under BUILD_DIR.
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
scratch=$(mktemp -d "$build/build-integration.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" > /dev/null
apps=$(seq -f 'app%02g' 1 20)

fail() { echo "build_integration: $*" >&2; exit 1; }

# The sample: 20 images, app20's made in the build from app01's; heap
# sizes in a file of their own, which a step edits.
project=$scratch/project
mkdir -p "$project/images"
for app in $apps; do
  [ "$app" = app20 ] || cp "$source/examples/sample.bim" "$project/images/$app.bim"
done
cat > "$project/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.25)
project(sample NONE)
find_package(krelt 1.0 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
enable_testing()
include(sizes.cmake)
foreach(i RANGE 1 19)
  string(REGEX REPLACE "^(.)$" "0\\1" n ${i})
  krelt_add_application(app${n} IMAGE images/app${n}.bim HEAP ${heap_${n}}
                        MMAREA 1m CHECK)
endforeach()
add_custom_command(OUTPUT made.bim
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/images/app01.bim made.bim
  DEPENDS images/app01.bim)
krelt_add_application(app20 IMAGE made.bim HEAP 64k CHECK)
EOF
cat > "$project/Makefile" << EOF
include $prefix/share/krelt/krelt.mk
include sizes.mk
KRELT := $prefix/bin/krelt
all: $(echo $apps | sed 's/\(app[0-9]*\)/\1.v/g')
$(for app in $apps; do echo "$app.v: KRELT_MMAREA := 1m"; done)
app20.bim: app01.bim
	cp \$< \$@
EOF
sizes() {  # HEAP_OF_APP05
  : > "$project/sizes.cmake"
  : > "$project/sizes.mk"
  for app in $apps; do
    heap=64k
    [ "$app" != app05 ] || heap=$1
    echo "set(heap_${app#app} $heap)" >> "$project/sizes.cmake"
    echo "$app.v: KRELT_HEAP := $heap" >> "$project/sizes.mk"
  done
}
sizes 64k
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

for flavour in ninja makefiles make; do
  if [ $flavour = ninja ] && ! command -v ninja > /dev/null; then
    echo "note: no ninja (apt-get install ninja-build): CMake under Ninja not tried"
    continue
  fi
  sizes 64k
  work=$scratch/$flavour
  case $flavour in
    make)
      cp -r "$project" "$work"
      mv "$work"/images/* "$work/"
      images=$work
      build_it() { make -s -C "$work" -j8 > "$scratch/log" 2>&1 ||
                     { cat "$scratch/log"; fail "$flavour: make failed"; }; }
      out=$work
      ;;
    *)
      generator=Ninja
      toolchain=""
      if [ $flavour = makefiles ]; then
        generator="Unix Makefiles"
        toolchain=-DCMAKE_TOOLCHAIN_FILE=$scratch/toolchain.cmake
      fi
      images=$project/images
      out=$work
      cmake -S "$project" -B "$work" -G "$generator" $toolchain \
        -DCMAKE_PREFIX_PATH="$prefix" > "$scratch/log" 2>&1 ||
        { cat "$scratch/log"; fail "$flavour: configure failed"; }
      build_it() { cmake --build "$work" -j8 > "$scratch/log" 2>&1 ||
                     { cat "$scratch/log"; fail "$flavour: build failed"; }; }
      ;;
  esac
  mark "first build, -j8"
  build_it
  converted "$out" $apps
  left=$(find "$out" -name '*.tmp')
  [ -z "$left" ] || fail "$flavour: left behind: $left"
  mark "nothing changed"
  build_it
  converted "$out"
  mark "app07's image touched"
  touch "$images/app07.bim"
  build_it
  converted "$out" app07
  mark "app05's heap changed"
  sizes 128k
  [ $flavour != make ] || cp "$project/sizes.mk" "$work/"
  build_it
  converted "$out" app05
  mark "nothing changed"
  build_it
  converted "$out"

  # Every result is what its sizes make.
  if [ $flavour = make ]; then
    for app in $apps; do
      heap=64k
      [ $app != app05 ] || heap=128k
      "$prefix/bin/krelt-info" --heap $heap --mmarea 1m "$work/$app.v" \
        > "$scratch/log" || { cat "$scratch/log"; fail "$work/$app.v"; }
    done
  else
    ctest --test-dir "$work" > "$scratch/log" 2>&1 ||
      { cat "$scratch/log"; fail "$flavour: the checks failed"; }
    [ "$(grep -c 'Passed' "$scratch/log")" -eq 20 ] ||
      fail "$flavour: not 20 checks passed"
  fi
done

# From krelt's source tree, taken in with add_subdirectory, with a target
# whose file is the image (as a linked image's would be).
mkdir "$scratch/tree"
cp "$source/examples/sample.bim" "$scratch/tree/app.bim"
cat > "$scratch/tree/CMakeLists.txt" << EOF
cmake_minimum_required(VERSION 3.25)
project(tree NONE)
add_subdirectory("$source" krelt)
add_executable(image IMPORTED)
set_target_properties(image PROPERTIES
  IMPORTED_LOCATION \${CMAKE_CURRENT_SOURCE_DIR}/app.bim)
krelt_add_application(app IMAGE image HEAP 64k MMAREA 1m)
EOF
flavour="source tree"
tree_build() {
  cmake --build "$scratch/tree/build" --target app > "$scratch/log" 2>&1 ||
    { cat "$scratch/log"; fail "$flavour: the build failed"; }
}
cmake -S "$scratch/tree" -B "$scratch/tree/build" > "$scratch/log" 2>&1 ||
  { cat "$scratch/log"; fail "$flavour: configure failed"; }
mark "first build"
tree_build
converted "$scratch/tree/build" app
"$prefix/bin/krelt-info" --heap 64k --mmarea 1m "$scratch/tree/build/app.v" \
  > "$scratch/log" || { cat "$scratch/log"; fail "$flavour: app.v"; }
mark "nothing changed"
tree_build
converted "$scratch/tree/build"
mark "the image touched"
touch "$scratch/tree/app.bim"
tree_build
converted "$scratch/tree/build" app

# A missing argument stops the configure step and names itself.
mkdir "$scratch/bad"
cat > "$scratch/bad/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.25)
project(bad NONE)
find_package(krelt 1.0 REQUIRED)
krelt_add_application(app HEAP 64k)
EOF
if cmake -S "$scratch/bad" -B "$scratch/bad/build" -DCMAKE_PREFIX_PATH="$prefix" \
     > "$scratch/log" 2>&1; then
  fail "a missing IMAGE was accepted"
fi
grep -q 'krelt_add_application(app): IMAGE is required' "$scratch/log" ||
  { cat "$scratch/log"; fail "no message naming IMAGE"; }
# And a version of another major one is refused.
sed -i 's/krelt 1.0/krelt 2.0/' "$scratch/bad/CMakeLists.txt"
if cmake -S "$scratch/bad" -B "$scratch/bad/build2" -DCMAKE_PREFIX_PATH="$prefix" \
     > "$scratch/log" 2>&1; then
  fail "find_package(krelt 2.0) took version 1"
fi

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

echo "build_integration: CMake and make builds convert exactly what changed"
