#!/usr/bin/env python3
"""The gallery page as a reader sees it: headless Chromium opens build/gallery/index.html (through
gallery_check.html, which reports what the page shows), and every sheet must decode at the size
of the PNG the gallery wrote, with its calls listed under it. Every image operation in the export
manifest must appear in some call, and every mode of the two mode-driven transforms.

Usage: gallery_page.py WORK SOURCE   (WORK holds build/gallery from the gallery_render test)
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# Exports that make no picture of their own: queries, settings, files and housekeeping.
NOT_PICTURES = {
    "init", "image_last_error", "image_OmbrixVersion", "image_DevilVersion", "processor",
    "image_get_hue", "image_get_saturation", "image_get_value", "image_make_color_hsv",
    "image_get_cyan", "image_get_magenta", "image_get_yellow", "image_get_black",
    "image_get_pullout", "image_make_color_cmyk",
    "image_save", "image_asave", "image_free", "image_get_width", "image_get_height",
    "image_get_Bpp", "image_Clone", "image_Get_Pixel",
    "image_html_setting", "image_to_html", "image_to_gml", "image_to_h",
    "image_BrushLoad", "image_BrushSave", "image_BrushFree",
    "image_DetermineType", "image_SetDuration", "image_KeyColour", "image_ClearColour",
    "image_CompressFunc", "image_DXTCdata", "image_SetFunction", "image_SetString",
    "image_SetLanguage", "image_Filter", "image_Filter_scale", "image_Parameter",
}


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    return struct.unpack(">II", header[16:24])


def manifest_exports(source):
    names = []
    exports = os.path.join(source, "src", "exports")
    for def_file in sorted(os.listdir(exports)):
        if def_file.endswith(".def"):
            for line in open(os.path.join(exports, def_file), encoding="utf-8"):
                m = re.match(r"([A-Za-z_][A-Za-z0-9_]*) [rs] ", line)
                if m:
                    names.append(m.group(1))
    return names


def main():
    work, source = sys.argv[1], sys.argv[2]
    gallery = os.path.join(work, "build", "gallery")
    shutil.copy(os.path.join(source, "tests", "examples", "gallery_check.html"), work)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        sys.exit("chromium is not installed (scripts/setup.sh installs it)")
    with tempfile.TemporaryDirectory() as profile:
        dom = subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--allow-file-access-from-files", "--dump-dom",
             "file://" + os.path.join(os.path.abspath(work), "gallery_check.html")],
            capture_output=True, text=True, timeout=120).stdout
    m = re.search(r'<pre id="report">(.*?)</pre>', dom, re.S)
    if not m or m.group(1) == "not loaded":
        sys.exit("the page did not load in Chromium:\n" + dom[:2000])
    report = m.group(1).split("\n")

    failures = []
    written = sorted(f for f in os.listdir(gallery) if f.endswith(".png"))
    shown = {}
    calls = []
    for line in report:
        if line.startswith("sheet "):
            _, src, size, _, count = line.split(" ")
            shown[src] = (size, int(count))
        elif line.startswith("call "):
            calls.append(line[5:])
    if sorted(shown) != written:
        failures.append("the page shows %s, the gallery wrote %s" % (sorted(shown), written))
    for src, (size, count) in shown.items():
        if src in written and size != "%dx%d" % png_size(os.path.join(gallery, src)):
            failures.append("%s shows as %s" % (src, size))
        if count == 0:
            failures.append("%s has no calls listed" % src)

    text = " ".join(calls)
    for name in manifest_exports(source):
        if name not in NOT_PICTURES and not re.search(r"\b%s\(" % name, text):
            failures.append("no picture of %s" % name)
    for name, modes in (("image_transformRGB", 37), ("image_test", 24)):
        for mode in range(modes):
            if "%s(id, %d)" % (name, mode) not in calls:
                failures.append("no picture of %s mode %d" % (name, mode))

    print("%d sheets, %d calls" % (len(shown), len(calls)))
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main()
