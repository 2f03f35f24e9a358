#!/usr/bin/env bash
# End to end: the application's walk-through against the development service, real processes on
# 127.0.0.1 (the service, its chat server, nginx as the RTMP ingest), the same steps scripts/run takes.
# It checks the screens written, the live state reached, the ingest's accepted publish, the chat and an
# analytics upload the collector accepted, and the line on what the ingest recorded of the broadcast
# (with the picture a viewer saw, when media arrived).
# The one test that runs on wall-clock time; it waits on conditions only. Skipped (77) without nginx.
#   walk_through_test.sh <liveapp> <devservice>
set -uo pipefail
app=$1
devservice=$2
if ! "$devservice" --ingest-available; then
    echo "skipped: nginx with its RTMP module is not installed"
    exit 77
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

fail() {
    echo "FAILED: $*"
    # What the run left, so a failure seen once can still be read after the folder is gone.
    for file in "$out/screens/walk-through.log" "$out/devservice.log"; do
        [ -f "$file" ] && { echo "--- last lines of ${file#"$out"/}"; tail -n 60 "$file"; }
    done
    exit 1
}

bash "$(dirname "$0")/../../../scripts/walk-through" "$app" "$devservice" "$out" || fail "the walk-through did not finish"
log=$out/screens/walk-through.log
png_written() {
    [ "$(head -c 8 "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]
}
for step in 01-login 02-credentials 03-home 04-title-dialog 05-title 06-categories 07-category 08-resolution \
    09-first-live 10-broadcast 11-live 12-chat 13-stopped 14-home-again 15-logged-out; do
    png_written "$out/screens/$step.png" || fail "no picture of step $step"
done
grep -q "broadcast state: 3" "$log" || fail "the broadcast never went live"
grep -q "walk-through finished: 15 steps" "$log" || fail "the log does not end with the finished walk-through"
[ "$(grep -c '] chat: ' "$log")" -ge 3 ] || fail "fewer than three chat lines arrived"
grep -q "] viewers: [1-9]" "$log" || fail "no viewer count appeared"
grep -q "publish live/42 accepted" "$out/devservice.log" || fail "the ingest accepted no publish"
grep -q "collector: accepted envelope" "$out/devservice.log" || fail "the collector accepted no analytics upload"
grep -q "^walk-through: ingest recorded live/42: " "$log" || fail "no line on what the ingest recorded"
if grep -q "^walk-through: ingest recorded live/42: .*viewer's picture 16-viewer-saw.png" "$log"; then
    png_written "$out/screens/16-viewer-saw.png" || fail "the viewer's picture named in the log is missing"
fi
echo "walk-through passed: $(grep "walk-through finished" "$log")"
