#!/usr/bin/env bash
# How `vexel-cli extract` scales with --jobs: renders 30 views of 1280 x 960 as
# JPEG and as PGM, then runs `extract --jobs 1` and `extract --jobs N` in turn
# (1, N, 1, N, ...) and prints each one's median wall time and the ratio. The
# ratio is the median of the pair-by-pair ratios, so that a change of load on
# the machine during the run hits both alike. Also checks that both print the
# same bytes.
#
#   bench/jobs_scaling.sh [--cli PATH] [--runs R] [--jobs N] [--views V] [--size WxH] [--keep DIR]
#
# Defaults: build/bin/vexel-cli, 7 runs each, N = 2, 30 views, 1280x960.
set -euo pipefail

cli=build/bin/vexel-cli
runs=7
jobs=2
views=30
size=1280x960
keep=""
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bench_options "cli runs jobs views size keep" 11 "$@"
[[ -x $cli ]] || { echo "jobs_scaling: no executable $cli (build the vexel-cli target first)" >&2; exit 2; }
bench_workdir "$keep"

now() { date +%s%N; }

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "jobs_scaling: $(nproc) cores, $views views of $size, $runs runs each, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for format in jpg pgm; do
    dir=$work/$format
    if [[ ! -f $dir/views.iml ]]; then
        "$cli" render "$dir" --views "$views" --size "$size" --format "$format" --noise 1.5 --blur 0.8 >/dev/null
    fi
    # One run of each first (not timed): warms the file cache, checks the output.
    "$cli" extract "$dir/views.iml" --jobs 1 -q >"$work/out1.txt"
    "$cli" extract "$dir/views.iml" --jobs "$jobs" -q >"$work/outN.txt"
    if cmp -s "$work/out1.txt" "$work/outN.txt"; then same=yes; else same=NO; fi
    : >"$work/t1" && : >"$work/tN" && : >"$work/ratio"
    for ((r = 0; r < runs; ++r)); do
        t0=$(now); "$cli" extract "$dir/views.iml" --jobs 1 -q >/dev/null; t1=$(now)
        "$cli" extract "$dir/views.iml" --jobs "$jobs" -q >/dev/null; t2=$(now)
        a=$(((t1 - t0) / 1000)) b=$(((t2 - t1) / 1000))
        echo "$a" >>"$work/t1"
        echo "$b" >>"$work/tN"
        awk -v a="$a" -v b="$b" 'BEGIN { print a / b }' >>"$work/ratio"
    done
    m1=$(median <"$work/t1") mN=$(median <"$work/tN") ratio=$(median <"$work/ratio")
    printf '%s: --jobs 1 median %.3f s, --jobs %s median %.3f s, ratio %.2fx (min %.2fx, max %.2fx), same output: %s\n' \
        "$format" "$(awk -v v="$m1" 'BEGIN { print v / 1e6 }')" "$jobs" "$(awk -v v="$mN" 'BEGIN { print v / 1e6 }')" \
        "$ratio" "$(sort -g "$work/ratio" | head -1)" "$(sort -g "$work/ratio" | tail -1)" "$same"
done
