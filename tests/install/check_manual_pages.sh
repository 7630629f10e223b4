#!/usr/bin/env bash
# Renders every manual page of a build (MAN_DIR/man1/*.1) with groff's warnings all on, and through
# man(1) as a reader would call it up, and fails on any warning or on a page that renders empty.
# Usage: check_manual_pages.sh MAN_DIR
set -uo pipefail
man_dir="$1"
cd "$man_dir" || exit 1 # pages that source another (.so man1/...) name it from here
shopt -s nullglob
pages=(man1/*.1)
if [ "${#pages[@]}" = 0 ]; then
  echo "no manual pages in $man_dir/man1"
  exit 1
fi
failed=0
for page in "${pages[@]}"; do
  name="$(basename "$page" .1)"
  warnings="$(groff -ww -mandoc -Tutf8 -z "$page" 2>&1)"
  if [ -n "$warnings" ]; then
    printf '%s: groff -ww:\n%s\n' "$page" "$warnings"
    failed=1
  fi
  # man finds the page by name in this directory, as it would an installed one.
  text="$(MANWIDTH=80 man --warnings -M "$man_dir" "$name" 2>"$man_dir/$name.warnings")"
  if [ -s "$man_dir/$name.warnings" ]; then
    printf '%s: man --warnings:\n%s\n' "$page" "$(cat "$man_dir/$name.warnings")"
    failed=1
  fi
  rm -f "$man_dir/$name.warnings"
  if ! grep -q "^NAME" <<<"$text" || ! grep -q "$name" <<<"$text"; then
    printf '%s: man shows no NAME section naming %s\n' "$page" "$name"
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "${#pages[@]} pages render without warnings: ${pages[*]}"
exit "$failed"
