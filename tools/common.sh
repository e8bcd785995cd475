# Sourced by the Makefile's recipes and the scripts in tools/, bench/ and
# .ci/, from the top of the source tree (POSIX sh).

# As many build and test jobs as there are processors, unless set.
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}
CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$CMAKE_BUILD_PARALLEL_LEVEL}
export CMAKE_BUILD_PARALLEL_LEVEL CTEST_PARALLEL_LEVEL

# need COMMAND|PATH PACKAGE: stops, naming the Debian package to install,
# when the command (or the file at a path with a /) is missing.
need() {
  case $1 in
    */*) [ -e "$1" ] ;;
    *) command -v "$1" > /dev/null 2>&1 ;;
  esac || { echo "krelt: '$1' is missing: apt-get install $2" >&2; exit 1; }
}

# platforms [FAMILY]: the rows of cmake/platforms.txt, all or those whose
# triple ends in FAMILY (linux-gnu, w64-mingw32).
platforms() {
  grep -v -e '^#' -e '^[[:space:]]*$' cmake/platforms.txt |
    awk -v family="${1:-}" 'family == "" || $2 ~ ("-" family "$")'
}

# need_compiler NAME: need for the cross compiler of platform NAME.
need_compiler() {
  set -- "$1" $(platforms | awk -v name="$1" '$1 == name {print $2 "-g++", $4}')
  [ $# -eq 3 ] || { echo "krelt: no platform $1 in cmake/platforms.txt" >&2; exit 1; }
  need "$2" "$3"
}

# quiet COMMAND...: runs it, showing its output only when it fails.
quiet() {
  _log=$(mktemp)
  if "$@" > "$_log" 2>&1; then
    rm -f "$_log"
  else
    _status=$?
    cat "$_log" >&2
    rm -f "$_log"
    return $_status
  fi
}
