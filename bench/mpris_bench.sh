#!/usr/bin/env bash
# velmora-mpris against playerctl on the same mpv, in one run on a private session bus:
#   - a command's round trip as a whole process: `velmora-ctl pause|resume` against `playerctl pause|play`
#     (median of N runs each, alternating, each waiting for its answer);
#   - velmora-mpris's CPU while the player is paused (over IDLE seconds), and its private memory.
# usage: bench/mpris_bench.sh [BUILD_DIR] [N] [IDLE]
# With VELMORA_CTL_BASELINE naming another velmora-ctl (an older build, say), that one is timed in the same
# loop as well, so that a change is measured against the same load.
set -euo pipefail
if [ -z "${VELMORA_BENCH_INSIDE:-}" ]; then
  export VELMORA_BENCH_INSIDE=1
  exec dbus-run-session -- "$0" "$@"
fi
build=$(cd "${1:-build/default}" && pwd)
runs=${2:-40}
idle=${3:-20}
work=$(mktemp -d /tmp/velmora-mpris-bench-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

sox -n -r 8000 -c 1 --comment "TITLE=Bench Song" "$work/song.ogg" synth 600 sine 440 vol 0.01
mpv --no-video --ao=null --no-terminal --idle=yes "$work/song.ogg" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do playerctl -l 2>/dev/null | grep -qx mpv && break; sleep 0.1; done
"$build/Velmora/velmora-mpris" 2>"$work/mpris.log" &
mpris=$!
pids+=($mpris)
for _ in $(seq 1 100); do grep -q 'serving' "$work/mpris.log" && break; sleep 0.1; done

ms() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
: >"$work/ctl" ; : >"$work/pctl"
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) -eq 1 ]; then a=pause; b=pause; else a=resume; b=play; fi
  t0=$(ms); "$build/Velmora/velmora-ctl" "$a" 2>/dev/null; t1=$(ms)
  playerctl --player=mpv "$b"; t2=$(ms)
  echo $(( (t1 - t0) / 1000 )) >>"$work/ctl"
  echo $(( (t2 - t1) / 1000 )) >>"$work/pctl"
  if [ -n "${VELMORA_CTL_BASELINE:-}" ]; then
    t0=$(ms); "$VELMORA_CTL_BASELINE" "$a" 2>/dev/null; t1=$(ms)
    echo $(( (t1 - t0) / 1000 )) >>"$work/base"
  fi
done
c=$(median <"$work/ctl"); p=$(median <"$work/pctl")
echo "command round trip, whole process (median of $runs): velmora-ctl ${c} us, playerctl ${p} us," \
  "ratio $(awk -v c="$c" -v p="$p" 'BEGIN {printf "%.2f", c / p}')"
if [ -n "${VELMORA_CTL_BASELINE:-}" ]; then
  b=$(median <"$work/base")
  echo "  baseline $VELMORA_CTL_BASELINE: ${b} us, ratio to playerctl" \
    "$(awk -v b="$b" -v p="$p" 'BEGIN {printf "%.2f", b / p}')"
fi

playerctl --player=mpv pause
sleep 1
ticks() { awk '{print $14 + $15}' "/proc/$mpris/stat"; }
before=$(ticks); sleep "$idle"; after=$(ticks)
hz=$(getconf CLK_TCK)
echo "velmora-mpris CPU with the player paused: $(awk -v d=$((after - before)) -v hz="$hz" -v s="$idle" \
  'BEGIN {printf "%.3f%%", 100 * d / hz / s}') over ${idle} s ($((after - before)) ticks)"
awk '/^Private_(Clean|Dirty)/ {kb += $2} END {printf "velmora-mpris private memory: %.2f MiB\n", kb / 1024}' \
  "/proc/$mpris/smaps_rollup"
awk '/^Rss/ {printf "velmora-mpris RSS: %.2f MiB\n", $2 / 1024}' "/proc/$mpris/smaps_rollup"
