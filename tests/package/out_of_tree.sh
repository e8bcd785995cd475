#!/bin/sh
# out_of_tree.sh SOURCE_DIR: copies the source tree (the files git tracks
# or would track) into a fresh repository, configures and builds it in
# another folder, as `cmake -S . -B /tmp/x` does, programs and every
# platform's build, then fails if anything in the copy, ignored or not, was
# made or changed.
set -eu
source=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/src"
git -C "$source" ls-files --cached --others --exclude-standard |
  while IFS= read -r f; do [ -e "$source/$f" ] && printf '%s\n' "$f"; done |
  tar -C "$source" -cf - -T - | tar -C "$scratch/src" -xf -
cd "$scratch/src"
git init -q
git add -A
git -c user.name=test -c user.email=test@localhost commit -q -m copy

cmake -S . -B "$scratch/build" -DKRELT_REQUIRE_FOREIGN=OFF \
  > "$scratch/log" 2>&1 || { cat "$scratch/log"; exit 1; }
cmake --build "$scratch/build" --target krelt krelt-info krelt_foreign_builds \
  > "$scratch/log" 2>&1 || { cat "$scratch/log"; exit 1; }
ls "$scratch"/build/*/built > /dev/null 2>&1 ||
  echo "note: no build for another platform could be made here"

changed=$(git status --porcelain --ignored)
if [ -n "$changed" ]; then
  echo "the build wrote into the source tree:"
  echo "$changed"
  exit 1
fi
echo "source tree clean after configuring and building in $scratch/build"
