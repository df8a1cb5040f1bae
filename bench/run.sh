#!/usr/bin/env bash
# Measures corvane beside `xxd -i` and a plain copy of the finished array source.
#
#   bench/run.sh [rounds]        (default 7; needs hyperfine, xxd and GNU time)
#
# Each round runs every command once (for the 20-byte input, a batch of runs),
# one after another, so the commands share the machine's state; the figures are
# medians over the rounds. Prints the three ratios, the peak memory and the
# writer's own throughput.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
for tool in hyperfine xxd /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

cmake --workflow --preset bench >/dev/null
corvane=$root/build/bench/corvane
work=$(mktemp -d "${BENCH_DIR:-/tmp}/corvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 64M /dev/urandom >big
head -c 20 /dev/urandom >small
"$corvane" big # big.c is what the dd copy copies
sum=$(sha256sum <big.c)

for round in $(seq "$rounds"); do
    hyperfine -N --runs 1 --style none --export-json "big-$round.json" \
        "$corvane big" "xxd -i big big.xxd.c" "dd if=big.c of=copy.c bs=64k status=none" >/dev/null 2>&1
    hyperfine -N --warmup 20 --runs 300 --style none --export-json "small-$round.json" \
        "$corvane small" "xxd -i small small.xxd.c" >/dev/null 2>&1
done

# the timed runs left a whole, unchanged array source
[ "$(sha256sum <big.c)" = "$sum" ] || { echo "bench: big.c changed" >&2; exit 1; }

head -c 1G /dev/urandom >huge
mem_big=$(/usr/bin/time -f %M "$corvane" big 2>&1)
mem_huge=$(/usr/bin/time -f %M "$corvane" huge 2>&1)
rm -f huge huge.c

python3 - "$rounds" "$mem_big" "$mem_huge" <<'PY'
import json, statistics, sys
rounds, mem_big, mem_huge = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def medians(kind, field):
    per_command = {}
    for r in range(1, rounds + 1):
        for result in json.load(open(f"{kind}-{r}.json"))["results"]:
            per_command.setdefault(result["command"].split()[0], []).append(result[field])
    return {cmd: statistics.median(values) for cmd, values in per_command.items()}
big = medians("big", "mean")
small = medians("small", "median")
corvane = next(c for c in big if c.endswith("corvane"))
print(f"64 MiB random input, medians of {rounds} interleaved rounds:")
print(f"  corvane {big[corvane]*1000:8.1f} ms   xxd -i {big['xxd']*1000:8.1f} ms   dd copy of the output {big['dd']*1000:8.1f} ms")
print(f"  target 1: xxd -i / corvane = {big['xxd']/big[corvane]:.1f} (at least 15)")
print(f"  target 1: corvane / dd copy = {big[corvane]/big['dd']:.2f} (at most 1.25)")
print(f"20-byte input, whole process, medians of {rounds} rounds of 300 runs:")
print(f"  corvane {small[corvane]*1e6:8.0f} us   xxd -i {small['xxd']*1e6:8.0f} us")
print(f"  target 3: corvane / xxd -i = {small[corvane]/small['xxd']:.2f} (at most 1.10)")
print(f"target 2: peak resident memory {int(mem_big)/1024:.2f} MiB for 64 MiB, {int(mem_huge)/1024:.2f} MiB for 1 GiB (at most 2 MiB)")
PY
echo "writer alone (Google Benchmark, input bytes per second):"
"$root/build/bench/writer_bench" --benchmark_min_time=0.5 2>/dev/null | grep -E '^write_array_source'
