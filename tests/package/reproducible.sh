#!/bin/sh
# reproducible.sh SOURCE_DIR [--check]: copies the source tree (the files git
# tracks or would track) into two fresh repositories at paths of different
# lengths, each committed at the time of the source's last commit, makes
# the release in each (tools/dist: every platform whose compiler is
# installed; SOURCE_DATE_EPOCH unset, so that each takes it from its
# commit), and fails unless both give the same files, byte for byte, the
# host's .deb among them. With --check, check_dist.sh then checks
# the first copy's release.
set -eu
source=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
unset SOURCE_DATE_EPOCH

for copy in a "b/a longer path"; do
  dir=$scratch/$copy
  mkdir -p "$dir"
  git -C "$source" ls-files --cached --others --exclude-standard |
    while IFS= read -r f; do [ -e "$source/$f" ] && printf '%s\n' "$f"; done |
    tar -C "$source" -cf - -T - | tar -C "$dir" -xf -
  (cd "$dir" && git init -q && git add -A &&
   GIT_AUTHOR_DATE="@$epoch +0000" GIT_COMMITTER_DATE="@$epoch +0000" \
     git -c user.name=test -c user.email=test@example.org commit -q -m copy)
  (cd "$dir" && tools/dist > "$scratch/log" 2>&1) ||
    { cat "$scratch/log"; exit 1; }
done

a=$scratch/a/build/dist
b="$scratch/b/a longer path/build/dist"
[ "$(ls "$a")" = "$(ls "$b")" ] || { echo "different files:"; ls "$a" "$b"; exit 1; }
status=0
for f in $(ls "$a"); do
  if cmp -s "$a/$f" "$b/$f"; then
    echo "identical: $f ($(wc -c < "$a/$f") bytes)"
  else
    echo "DIFFERENT: $f"
    status=1
  fi
done
ls "$a"/*.deb > /dev/null || { echo "no .deb was made"; exit 1; }
[ $status -eq 0 ] || exit 1
if [ "${2:-}" = --check ]; then
  "$source/tests/package/check_dist.sh" "$a" "$scratch/a"
fi
