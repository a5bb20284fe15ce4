#!/usr/bin/env bash
# SIGKILL at 20 random moments while the native program patches a pair of about 500 MB: the
# target is always the old file or the new one, byte for byte, and the next run succeeds and
# leaves no temporary file. Usage: tests/kill_test.sh PATH/TO/quelvane PATH/TO/quelvane-workload
set -euo pipefail
quelvane="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/pair" "$work/run"
"$2" many "$work/pair" >/dev/null
fail() { echo "kill test: $*" >&2; exit 1; }
press() { (cd "$work/run" && printf '\n' | "$quelvane" >/dev/null); }

old=$(cksum <"$work/pair/verdata.mul")
cp "$work/pair/"*.mul "$work/run/"
start=$(date +%s%N)
press || fail "the clean run failed"
work_ms=$(( ($(date +%s%N) - start) / 1000000 - 2500 ))
new=$(cksum <"$work/run/verdata.mul")
[ "$new" != "$old" ] || fail "the patch changed nothing"
RANDOM=20261206
saw_old=0 saw_new=0
for round in $(seq 20); do
    cp "$work/pair/"*.mul "$work/run/"
    (cd "$work/run" && exec "$quelvane" < <(printf '\n') >/dev/null) &
    delay=$(( RANDOM % (work_ms * 3 / 2 + 200) ))
    sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
    kill -9 $! 2>/dev/null || true
    wait $! 2>/dev/null || true
    case "$(cksum <"$work/run/verdata.mul")" in
        "$old") saw_old=$((saw_old + 1)) ;;
        "$new") saw_new=$((saw_new + 1)) ;;
        *) fail "round $round: the target is neither the old file nor the new one" ;;
    esac
    cp "$work/pair/patchdata.mul" "$work/run/"
    press || fail "round $round: the run after the kill failed"
    [ ! -e "$work/run/verdata.mul.new" ] || fail "round $round: a temporary file was left behind"
done
echo "kill test: 20 kills within $work_ms ms of work: $saw_old left the old file, $saw_new the new one; every next run succeeded"
