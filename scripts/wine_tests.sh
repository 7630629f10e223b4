#!/usr/bin/env bash
# Runs the tests of a Windows build under wine, the way scripts/test.sh's wine stages do.
# Usage: scripts/wine_tests.sh BUILD_DIR WINEPREFIX [CTEST ARGUMENT...]
#   (WINEPREFIX: the prefix the build's tests run in, $WINE_PREFIX_BASE/win64 for x86_64, .../win32 for
#   i686; the toolchain files name it when the build is configured)
#
# Debian's wine starts its server with -p0: the server exits the moment its last client does, and a test
# program that starts just then finds it going away (wine's own "wine client error:0: recvmsg: Connection
# reset by peer", the test failing before it ran a line of ours). So one server is kept running for the
# prefix from the first test to the last, with wine's system programs started before the tests, and
# stopped (with them) when the tests end, fail or are interrupted.
#
# Should one of wine's own connection errors still end a test, that test runs once more and its name is
# printed, and written to the file $STAGE_NOTE names (scripts/test.sh's stage table). A test that failed
# in our code is never run again: the run fails.
set -uo pipefail
if [ "$#" -lt 2 ]; then
  echo "usage: scripts/wine_tests.sh BUILD_DIR WINEPREFIX [CTEST ARGUMENT...]" >&2
  exit 2
fi
dir="$(cd "$1" && pwd)" || exit 2
prefix="$2"
shift 2
jobs="${JOBS:-$(nproc)}"
wine_server=/usr/lib/wine/wineserver # beside the loaders the toolchain files run
[ -x "$wine_server" ] || wine_server=wineserver
junit="$dir/Testing/wine-tests.xml"

# The server of our own, started here. Where one already runs for the prefix (another user of it), the
# tests use that one and it is left alone.
own_server=0
# shellcheck disable=SC2317 # run by the traps
stop_server() {
  if [ "$own_server" = 1 ]; then
    WINEPREFIX="$prefix" "$wine_server" -k 2>/dev/null
    own_server=0
  fi
}
trap stop_server EXIT
trap 'stop_server; exit 130' INT
trap 'stop_server; exit 143' TERM
if WINEPREFIX="$prefix" "$wine_server" -p; then # -p: persistent until -k; returns once it is ready
  own_server=1
else
  echo "wine_tests: a wine server already runs for $prefix; the tests use it"
fi
# Wine starts its own system programs (services.exe, rpcss.exe, ...) with the first program of a
# prefix, and they live as long as the server. Started by a test, they would keep that test's output
# pipe open and ctest would wait for it until the test timed out; so they start here, with no output.
loader=/usr/lib/wine/wine64
grep -q '^#arch=win32' "$prefix/system.reg" 2>/dev/null && loader=/usr/lib/wine/wine
WINEPREFIX="$prefix" WINEDEBUG=-all "$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1

# The failed tests of a ctest run, one a line: "wine NAME" where the test's output holds one of wine's
# own errors about its server connection, "ours NAME" for every other failure (a test that did not run
# included).
failed_tests() {
  python3 - "$junit" <<'EOF'
import re
import sys
import xml.etree.ElementTree as ElementTree

wine_connection_error = re.compile(
    r"wine client error:[0-9a-f]+: "
    r"|a wine server seems to be running, but I cannot connect to it"
    r"|the wine server (never started|failed to run)")
for case in ElementTree.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.get("status") in ("run", "disabled"):
        continue
    output = "".join(node.text or "" for node in case.iter("system-out"))
    kind = "wine" if wine_connection_error.search(output) else "ours"
    print(kind, case.get("name"))
EOF
}

rm -f "$junit"
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$junit" "$@" && exit 0
failures="$(failed_tests)" || exit 1
if [ -z "$failures" ] || grep -qv '^wine ' <<<"$failures"; then
  exit 1
fi
reran=()
while read -r _ name; do
  echo
  echo "== $name: wine's own server connection failed; running it once more"
  # The sample files are there from the first run: no fixture set-up again.
  ctest --test-dir "$dir" --output-on-failure -R "^${name}\$" --fixture-exclude-setup '.*' || exit 1
  reran+=("$name")
done <<<"$failures"
echo "wine_tests: passed on a second run after wine's connection error: ${reran[*]}"
[ -n "${STAGE_NOTE:-}" ] && echo "wine reran: ${reran[*]}" >"$STAGE_NOTE"
exit 0
