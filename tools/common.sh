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

# The table of platforms, cmake/platforms.txt, read by column name (its
# first line that is not a comment names them):
#   platforms [FAMILY]           the names, all or those whose triple ends
#                                in FAMILY (linux-gnu, w64-mingw32)
#   platform_field NAME COLUMN   the field of platform NAME in COLUMN
#   platform_with COLUMN VALUE   the first platform whose COLUMN is VALUE
# A column the table lacks, or a NAME not in it, is an error.
platform_table() {  # AWK_PROGRAM [-v VAR=VALUE...]: col(COLUMN) is a field
  _program=$1
  shift
  awk "$@" '
    function col(c) {
      if (!(c in index_of)) {
        print "krelt: no column " c " in cmake/platforms.txt" > "/dev/stderr"
        failed = 1
        exit 1
      }
      return $index_of[c]
    }
    /^[[:space:]]*(#|$)/ { next }
    !header { for (i = 1; i <= NF; i++) index_of[$i] = i; header = 1; next }
    '"$_program"'
    END { if (failed) exit 1 }' cmake/platforms.txt
}
platforms() {
  platform_table 'f == "" || col("triple") ~ ("-" f "$") { print col("name") }' \
    -v f="${1:-}"
}
platform_field() {
  platform_table 'col("name") == n { print col(c); found = 1; exit }
    END { if (!found && !failed) {
      print "krelt: no platform " n " in cmake/platforms.txt" > "/dev/stderr"
      exit 1 } }' -v n="$1" -v c="$2"
}
platform_with() {
  platform_table 'col(c) == v { print col("name"); exit }' -v c="$1" -v v="$2"
}

# need_compiler NAME: need for the cross compiler of platform NAME.
need_compiler() {
  _triple=$(platform_field "$1" triple) || exit 1
  need "$_triple-g++" "$(platform_field "$1" compiler)"
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
