#!/usr/bin/env bash
# The GUI thread never waits on a device: no code in src/ runs an event loop
# of its own but a modal dialog's exec() (and the program's one loop in
# main). Every place that does is listed in event_loops.allowed, as
# "file: code"; a new one, or one that went, fails this test until the list
# says so. Usage: event_loops_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
pattern='processEvents|sendPostedEvents|QEventLoop|pumpMessages|PumpMode|pumpedWait|setWaitHook|(\.|::|->)exec\(\)'
found=$(grep -rnE "$pattern" src | sed -E 's/^([^:]+):[0-9]+:[[:space:]]*/\1: /' | LC_ALL=C sort)
allowed=$(grep -v '^#' tests/platform/event_loops.allowed | LC_ALL=C sort)
if [[ "$found" != "$allowed" ]]; then
  echo "Event loops in src/ that the list does not hold (>) or that are gone (<):" >&2
  diff <(echo "$allowed") <(echo "$found") >&2 || true
  exit 1
fi
echo "1 passed, 0 failed"
