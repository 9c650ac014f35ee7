#!/usr/bin/env python3
"""Every link and picture in README.md leads somewhere: "#anchor" links to a heading (as GitHub
makes anchors from headings), relative paths to files in the checkout, and every picture in
docs/gallery is shown or linked. A GML block that follows a link to an example script is that
script, as the picture under it was drawn from the file.

Usage: readme_links.py SOURCE
"""
import os
import re
import sys


def anchor(heading):
    text = heading.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def main():
    source = sys.argv[1]
    readme = open(os.path.join(source, "README.md"), encoding="utf-8").read()
    prose = re.sub(r"```.*?```", "", readme, flags=re.S)
    anchors = {anchor(h) for h in re.findall(r"^#+ (.*)$", prose, re.M)}
    targets = re.findall(r"\]\(([^)\s]+)\)", prose) + re.findall(r'<img src="([^"]+)"', prose)
    failures = []
    for target in targets:
        if target.startswith("#"):
            if target[1:] not in anchors:
                failures.append("no heading for " + target)
        elif not re.match(r"[a-z]+://", target) and not os.path.exists(os.path.join(source, target)):
            failures.append("no file " + target)
    gallery = os.path.join(source, "docs", "gallery")
    for picture in sorted(os.listdir(gallery)):
        if "docs/gallery/" + picture not in targets:
            failures.append("README shows no docs/gallery/" + picture)
    for script, block in re.findall(r"\]\((examples/[\w.]+\.gml)\)[^\n]*\n+```gml\n(.*?)```", readme, re.S):
        if open(os.path.join(source, script), encoding="utf-8").read() != block:
            failures.append("the GML shown after %s is not that file" % script)
    print("%d links checked" % len(targets))
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main()
