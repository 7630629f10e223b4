#!/usr/bin/env bash
# Installs a build into an empty prefix and checks what lands there: each program in bin/ with its page
# in share/man/man1 (talvo-unpack's page showing talvo-pack's), mvcore's library, headers and package
# files, and that the installed programs run from there.
# Usage: check_install_layout.sh CMAKE BUILD_DIR WORK_DIR WITH_MVCORE(0|1) PROGRAM...
set -uo pipefail
cmake="$1" build_dir="$2" work="$3" with_mvcore="$4"
shift 4
prefix="$work/prefix"
rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  exit 1
}

failed=0
fail() {
  echo "$*"
  failed=1
}
for program in "$@"; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is missing"
  [ -f "$prefix/share/man/man1/$program.1" ] || fail "share/man/man1/$program.1 is missing"
done
if [ "$with_mvcore" = 1 ]; then
  [ -n "$(find "$prefix" -name 'libmvcore.so*' -print -quit)" ] || fail "libmvcore.so is missing"
  [ -f "$prefix/include/Marvane/Platform.h" ] || fail "include/Marvane/Platform.h is missing"
  [ -n "$(find "$prefix" -path '*/cmake/mvcore/mvcoreConfig.cmake' -print -quit)" ] || fail "mvcoreConfig.cmake is missing"
  [ -n "$(find "$prefix" -path '*/pkgconfig/mvcore.pc' -print -quit)" ] || fail "mvcore.pc is missing"
fi
# Nothing but these.
unexpected="$(cd "$prefix" && find . -type f | grep -Ev '^\./(bin|share/man/man1|include/Marvane|lib[^/]*)/')"
[ -z "$unexpected" ] || fail "installed outside bin/, share/man/man1, include/ and lib/: $unexpected"

# The installed programs run where they are (no path into the build tree needed).
expect_exit() { # STATUS TEXT COMMAND...: COMMAND exits with STATUS and prints TEXT
  local status="$1" text="$2" output rc
  shift 2
  output="$("$@" 2>&1)"
  rc=$?
  if [ "$rc" != "$status" ] || ! grep -qF -- "$text" <<<"$output"; then
    fail "$(basename "$1") ${*:2}: exit status $rc (expected $status), output: $output"
  fi
}
for program in "$@"; do
  case "$program" in
    talvo) expect_exit 255 "TALVO v" "$prefix/bin/talvo" ;;
    talvo-pack | talvo-unpack) expect_exit 0 "" "$prefix/bin/$program" --version ;;
    splice) expect_exit 2 "usage: splice" "$prefix/bin/splice" ;;
  esac
done

# The alias page brings up talvo-pack's page under its own name.
if [ -f "$prefix/share/man/man1/talvo-unpack.1" ]; then
  page="$(MANWIDTH=80 man --warnings -M "$prefix/share/man" talvo-unpack 2>&1)"
  if ! grep -q "^TALVO-PACK(1)" <<<"$page" || ! grep -q "talvo-unpack" <<<"$page"; then
    fail "man talvo-unpack does not show talvo-pack's page: $page"
  fi
fi
[ "$failed" = 0 ] && echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
exit "$failed"
