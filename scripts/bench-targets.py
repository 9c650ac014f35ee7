#!/usr/bin/env python3
"""Runs the per-pixel benchmarks at 4096 x 4096 and prints each pass against its speed target.

Every figure is the pass's time over a memcpy of the same 48 MiB buffer measured in the same run
(the benchmarks' x_memcpy counter; for image_Clone, store_bench's Clone over its memcpy). The
targets: a pass in place within 2 x memcpy, one that makes a new image or buffer within 3 x, a
floating-point mode within 6 x. Run it on a quiet machine, after a Release or RelWithDebInfo build:

    python3 scripts/bench-targets.py [--repeat N] [BUILD_DIR]      # build/ by default

With --repeat N each benchmark binary runs N times and each pass keeps its best ratio, as the
benchmarks themselves keep the best of their iterations. Prints a Markdown table and exits with 1
when a pass misses its target.
"""
import json
import os
import re
import subprocess
import sys

IN_PLACE, CREATES, REAL_VALUED = 2.0, 3.0, 6.0

# (benchmark binary, pattern of the benchmark's name, what it measures, target)
PASSES = [
    ("transform_bench", r"transformRGB_21_hue/4096/", "image_transformRGB 21 (hue)", REAL_VALUED),
    ("transform_bench", r"transformRGB_22_saturation/4096/", "image_transformRGB 22 (saturation)", REAL_VALUED),
    ("transform_bench", r"transformRGB_23_value/4096/", "image_transformRGB 23 (value)", REAL_VALUED),
    ("transform_bench", r"transformRGB_24_lab_l/4096/", "image_transformRGB 24 (L*)", REAL_VALUED),
    ("transform_bench", r"transformRGB_25_lab_a/4096/", "image_transformRGB 25 (a*)", REAL_VALUED),
    ("transform_bench", r"transformRGB_26_lab_b/4096/", "image_transformRGB 26 (b*)", REAL_VALUED),
    ("transform_bench", r"test_21_luma/4096/", "image_test 21 (luma)", REAL_VALUED),
    ("transform_bench", r"test_22_blue_difference/4096/", "image_test 22", REAL_VALUED),
    ("transform_bench", r"test_23_red_difference/4096/", "image_test 23", REAL_VALUED),
    ("colour_bench", r"HSVChannalToImage/4096/", "image_HSVChannalToImage", REAL_VALUED),
    ("colour_bench", r"LABChannalToImage/4096/", "image_LABChannalToImage", REAL_VALUED),
    ("colour_bench", r"YCBCR470ChannalToImage/4096/", "image_YCBCR470ChannalToImage", CREATES),
    ("colour_bench", r"YCBCR709ChannalToImage/4096/", "image_YCBCR709ChannalToImage", CREATES),
    ("pixel_bench", r"^Blur_minus1_minus1/4096$", "image_blur(id, -1, -1)", IN_PLACE),
    ("pixel_bench", r"^Blur_minus1_1/4096$", "image_blur(id, -1, 1)", IN_PLACE),
    ("pixel_bench", r"^Blur_1_minus1/4096$", "image_blur(id, 1, -1)", IN_PLACE),
    ("pixel_bench", r"^Blur_1_1/4096$", "image_blur(id, 1, 1)", IN_PLACE),
    ("pixel_bench", r"^RGBMinMax/4096$", "image_RGBMinMax", IN_PLACE),
    ("pixel_bench", r"^AverageInto/4096$", "image_2image_add", IN_PLACE),
    ("pixel_bench", r"^ColourSequence/4096$", "test_2", IN_PLACE),
    ("pixel_bench", r"^Mosaic_8_1/4096$", "image_Mosaic", IN_PLACE),
    ("pixel_bench", r"^ConvertTo4/4096$", "image_ConvertTo4 (a fresh buffer)", CREATES),
    ("pixel_bench", r"^JoinSideBySide/4096$", "image_2to1", CREATES),
    ("store_bench", r"^Clone/1$", "image_Clone", CREATES),
]


def run(build, binary, patterns):
    path = os.path.join(build, binary)
    if not os.access(path, os.X_OK):
        sys.exit(f"{path} not found: build the benchmarks first (bash scripts/build.sh)")
    wanted = "|".join(patterns) if binary != "store_bench" else "^Clone/1$|^Memcpy48MiB"
    wanted = wanted.replace("^", "").replace("$", "")
    out = subprocess.run([path, f"--benchmark_filter={wanted}", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["benchmarks"]


def ratios(build, binary, mine):
    """Each pass's ratio from one run of `binary`, None where the benchmark is missing."""
    results = run(build, binary, [p[1] for p in mine])
    if binary == "store_bench":
        memcpy = next(r["real_time"] for r in results if r["name"].startswith("Memcpy48MiB"))
    found = []
    for _, pattern, _, _ in mine:
        r = next((r for r in results if re.search(pattern, r["name"])), None)
        if r is None:
            found.append(None)
        else:
            found.append(r["real_time"] / memcpy if binary == "store_bench" else r["x_memcpy"])
    return found


def main():
    args = sys.argv[1:]
    repeat = 1
    if len(args) >= 2 and args[0] == "--repeat":
        repeat = max(1, int(args[1]))
        args = args[2:]
    build = args[0] if args else "build"
    rows, missed = [], 0
    for binary in dict.fromkeys(b for b, *_ in PASSES):
        mine = [p for p in PASSES if p[0] == binary]
        runs = [ratios(build, binary, mine) for _ in range(repeat)]
        for k, (_, _, label, target) in enumerate(mine):
            seen = [run_ratios[k] for run_ratios in runs if run_ratios[k] is not None]
            ratio = min(seen) if seen else None
            rows.append((label, ratio, target))
            missed += ratio is None or ratio > target
    print("| Pass (4096 x 4096) | x memcpy | target | |")
    print("|---|---:|---:|---|")
    for label, ratio, target in rows:
        shown = "not run" if ratio is None else f"{ratio:.2f}"
        verdict = "missed" if ratio is None or ratio > target else "met"
        print(f"| {label} | {shown} | {target:g} | {verdict} |")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
