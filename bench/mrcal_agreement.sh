#!/usr/bin/env bash
# How far mrcal's calibration from our corner list lies from ours: renders
# views with a hand over part of the board in every one (partial views),
# calibrates them with `vexel-cli calibrate --mrcal-corners`, runs
# mrcal-calibrate-cameras on that corner list with the same lens model, and
# prints both cameras' fx, fy, cx, cy and their differences, once with
# mrcal's defaults (it also fits a bent board) and once with the board flat.
#
#   bench/mrcal_agreement.sh [--cli PATH] [--views V] [--size WxH] [--seed S] [--keep DIR]
#
# Defaults: build/bin/vexel-cli, 12 views of 1280x960, seed 5.
set -euo pipefail

cli=build/bin/vexel-cli
views=12
size=1280x960
seed=5
keep=""
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bench_options "cli views size seed keep" 11 "$@"
bench_workdir "$keep"
dir=$work
"$cli" render "$dir/views" --views "$views" --size "$size" --seed "$seed" --noise 1.5 --blur 0.6 --fault hand -q
"$cli" calibrate "$dir/views/views.iml" --json -q --mrcal-corners "$dir/corners.vnl" > "$dir/ours.json"
echo "corners not found (level -): $(grep -c ' -$' "$dir/corners.vnl" || true) of $(grep -vc '^#' "$dir/corners.vnl")"
focal=$(/usr/bin/python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['camera']['fx'])" "$dir/ours.json")

for run in defaults flat; do
    out="$dir/mrcal-$run"
    rm -rf "$out" && mkdir -p "$out"
    extra=()
    [[ $run == flat ]] && extra=(--skip-calobject-warp-solve)
    mrcal-calibrate-cameras --corners-cache "$dir/corners.vnl" --lensmodel LENSMODEL_OPENCV4 --focal "$focal" \
        --object-spacing 1 --object-width-n 10 --object-height-n 11 "${extra[@]}" --outdir "$out" \
        "$dir/views/*.pgm" > "$out.log" 2>&1 || { echo "mrcal ($run) failed, see $out.log" >&2; exit 1; }
    /usr/bin/python3 - "$dir/ours.json" "$out"/*.cameramodel "$run" <<'PY'
import json, sys
import mrcal
ours = json.load(open(sys.argv[1]))["camera"]
ours = [ours[k] for k in ("fx", "fy", "cx", "cy")]
theirs = mrcal.cameramodel(sys.argv[2]).intrinsics()[1][:4]
print(f"mrcal, {sys.argv[3]}:")
for name, a, b in zip(("fx", "fy", "cx", "cy"), ours, theirs):
    print(f"  {name}: ours {a:.4f}  mrcal {b:.4f}  difference {b - a:+.4f} px")
PY
done
