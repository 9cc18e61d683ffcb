#!/usr/bin/env bash
# The engine fuzz target's speed, measured one way for every build: a fresh copy of the same
# corpus each time, seed 1, 200,000 runs; N rounds, builds interleaved; the median and the
# range of the rounds (they spread by a quarter and more: the fuzzer's path is not the same
# from run to run).
#
#   bench/fuzz_rate.sh [-n ROUNDS] [-c CORPUS] [-f FUZZER_FLAGS] FUZZ_ENGINE [FUZZ_ENGINE ...]
#
# -f passes flags to every build, e.g. -f -entropic=0: the fuzzer's feature-frequency
# bookkeeping (its entropic schedule) then stays out and the rates compare the runs themselves.
#
# FUZZ_ENGINE is a built fuzz_engine (build/fuzz/fuzz/fuzz_engine of any checkout).
set -euo pipefail
rounds=3
flags=""
corpus="$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus/engine"
while getopts n:c:f: opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    c) corpus=$OPTARG ;;
    f) flags=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { echo "usage: $0 [-n ROUNDS] [-c CORPUS] [-f FUZZER_FLAGS] FUZZ_ENGINE..." >&2; exit 2; }
builds=()
for b in "$@"; do builds+=("$(realpath "$b")"); done
set -- "${builds[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
declare -A times
for ((r = 0; r < rounds; r++)); do
  for b in "$@"; do
    rm -rf "$work/corpus" && cp -r "$corpus" "$work/corpus"
    start=$(date +%s.%N)
    (cd "$work" && "$b" $flags -seed=1 -runs=200000 "$work/corpus" >/dev/null 2>&1)
    rate=$(echo "200000 / ($(date +%s.%N) - $start)" | bc -l)
    times[$b]="${times[$b]:-} $(printf '%.0f' "$rate")"
  done
done
for b in "$@"; do
  sorted=$(echo ${times[$b]} | tr ' ' '\n' | sort -n)
  n=$(echo "$sorted" | wc -l)
  median=$(echo "$sorted" | sed -n "$(((n + 1) / 2))p")
  printf '%8s executions a second (median; %s to %s)  %s\n' "$median" "$(echo "$sorted" | head -1)" \
    "$(echo "$sorted" | tail -1)" "$b"
done
