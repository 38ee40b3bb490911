#!/bin/bash
# The Windows host program's demo under Wine, once: the native flock
# simulator serves a COM port of the Wine prefix with the demo's flock, and
# vantrel-host.exe demo --port runs vantrel.dll against it and writes JSON
# lines. Passes when both trackers and the mouse show up and the sensors move,
# and when vantrel-host.exe check then names the misspelt line of a
# configuration for that port (the module's messages, taken aside from the
# DLL's standard output, with the line).
# It also shows the device brought up again after its line closed (an unplugged
# serial adapter) and came back on the same COM port, and the live view
# (--http 0) served by the Windows program: curl, from the Linux side,
# fetches the page and follows the stream of samples for a while.
#
# Usage: host-demo-wine.sh VANTREL_HOST_EXE FLOCKSIM
set -euo pipefail
host=$1
flocksim=$2
work=$(mktemp -d)
sim=0
demo=0
cleanup() {
    [ "$demo" = 0 ] || kill "$demo" 2>/dev/null || true
    [ "$sim" = 0 ] || kill "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The flock of vantrel-host demo (see "vantrel-host demo --help"); after 600
# records (3 s) its line closes, and comes back 2 s later.
"$flocksim" --units 3 --mice 2 --motion demo --buttons 0x00:100,0x10:50,0x30:50,0x70:50 \
    --hang-up-after 600 --hang-up close --back-after 2 \
    --wine-com auto --ready-file "$work/ready" >"$work/flocksim.out" 2>"$work/flocksim.err" &
sim=$!
for _ in $(seq 300); do
    [ -s "$work/ready" ] && break
    sleep 0.1
done
[ -s "$work/ready" ] || { echo "flocksim did not get ready:"; cat "$work/flocksim.err"; exit 1; }
port=$(cat "$work/ready")

status=0
# Under Wine a closed pseudo-terminal may read as a quiet line (the port's
# queue count fails, and the plain read that takes its place waits out its
# time-out), so the device may turn silent rather than lost: brought up
# again soon either way.
wine "$host" demo --port "$port" --duration 14 --format jsonl --silence 1 --reconnect-after 1 --http 0 \
    >"$work/out" 2>"$work/err" &
demo=$!
fail=0
for _ in $(seq 300); do
    grep -q 'the view at http://' "$work/err" && break
    sleep 0.1
done
url=$(tr -d '\r' <"$work/err" | sed -n 's/^vantrel-host: the view at \(http:[^ ]*\)$/\1/p' | head -1)
echo "the view at ${url:-nowhere}"
if [ -n "$url" ]; then
    curl -sS --max-time 10 -o "$work/page.html" "$url" || true
    grep -q '<title>vantrel: live view</title>' "$work/page.html" || { echo "no page at $url"; fail=1; }
    curl -sS --max-time 10 -o "$work/three.js" "${url}three.min.js" || true
    [ "$(wc -c <"$work/three.js")" -gt 100000 ] || { echo "no three.js at ${url}three.min.js"; fail=1; }
    # The stream for three seconds (curl ends it: exit status 28).
    curl -sS -N --max-time 3 -o "$work/events" "${url}samples" 2>/dev/null || true
    events=$(grep -c '^event: samples' "$work/events" || true)
    echo "the stream: $events sample events in 3 s"; grep -m1 '^data: {"devices"' "$work/events" || true
    grep -q '^data: {"devices":\[{"name":"demo","hemisphere":"+z","firstTracker":1,"trackerCount":2,' "$work/events" ||
        { echo "the stream named no devices"; fail=1; }
    [ "$events" -ge 30 ] && grep -q '"trackers":\[{"id":1,' "$work/events" || { echo "too few samples in the stream"; fail=1; }
else
    fail=1
fi
wait $demo || status=$?
echo "vantrel-host.exe demo --port $port: exit status $status, $(wc -l <"$work/out") lines"
if [ "$status" != 0 ]; then
    cat "$work/err"
    exit 1
fi
head -3 "$work/out"
grep '"status"' "$work/out" || true
grep '^vantrel-host:' "$work/err" || true
# Lost (or silent) when the line closed, brought up again, ok once it was
# back; then samples of both trackers after that.
sequence=$(grep -o '"status":"[a-z]*"' "$work/out" | sed 's/"status":"\(.*\)"/\1/' | uniq | tr '\n' ' ')
case "$sequence" in
lost\ reconnecting\ *ok\ | silent\ reconnecting\ *ok\ ) ;;
*) echo "status lines: $sequence, not lost (or silent), reconnecting, ok"; fail=1 ;;
esac
back=$(grep '"status":"ok"' "$work/out" | tail -1 | sed 's/{"time":\([0-9.]*\),.*/\1/')
for tracker in 1 2; do
    after=$(awk -v back="${back:-9e99}" -v want="\"tracker\":$tracker," 'index($0, want) && substr($0, 9) + 0 > back' "$work/out" | wc -l)
    echo "tracker $tracker: $after samples after the device was back"
    [ "$after" -ge 100 ] || fail=1
done
for want in '"tracker":1,' '"tracker":2,' '"controller":1,"buttons":\[[01],[01],[01]\]'; do
    grep -q "$want" "$work/out" || { echo "no line with $want"; fail=1; }
done
# Standard output holds the samples and status lines only: the module's log
# went to standard error (the DLL's runtime shares the program's standard
# streams).
others=$(grep -vc '^{"time":' "$work/out" || true)
[ "$others" = 0 ] || { echo "$others lines of standard output are not samples:"; grep -v '^{"time":' "$work/out" | head -3; fail=1; }
grep -q 'INFO: DEVICE NAME           : demo' "$work/err" || { echo "no status report on standard error"; fail=1; }
# The sensors go round: tracker 1 takes many positions.
positions=$(grep '"tracker":1,' "$work/out" | sed 's/.*"x":\([^,]*\),"y":\([^,]*\),.*/\1 \2/' | sort -u | wc -l)
echo "tracker 1 took $positions positions"
[ "$positions" -ge 50 ] || fail=1

# check: the library beside the program, by its full path (a relative one
# would be the configuration file's folder's), the port opened and closed.
dll=$(winepath -w "$(dirname "$host")/vantrel.dll")
printf 'device demo "%s" 2\n  port %s\n  mouse 2\n  hemispere -z\n' "$dll" "$port" >"$work/check.cfg"
status=0
(cd "$work" && wine "$host" check check.cfg) >"$work/check.out" 2>"$work/check.err" || status=$?
tr -d '\r' <"$work/check.out" >"$work/check.txt"
echo "vantrel-host.exe check: exit status $status"
cat "$work/check.txt"
expected='check.cfg:4: CConfigH: Unknown option "hemispere" found at line 4. Did you mean hemisphere?
check.cfg: 1 problem; the file would not run'
[ "$status" = 1 ] && [ "$(cat "$work/check.txt")" = "$expected" ] || { echo "check did not say:"; echo "$expected"; cat "$work/check.err"; fail=1; }
exit $fail
