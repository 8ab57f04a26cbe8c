#!/usr/bin/env python3
"""Checks that the source folders include one another only downward.

Each folder has a layer; a file may include its own folder and folders of
lower layers, never a folder of its own layer or above. Only ui/ may include
Qt, and no source file may grow past the line limit. Prints one line per
breach, naming the file and the rule, and exits 1 when there is any.

    python3 scripts/check_layers.py [ROOT]     (ROOT: the repository, default .)
"""
import os
import re
import sys

# Lowest first. Folders on one line are siblings: neither includes the other.
LAYERS = [
    ["base"],        # jobs, job pool, files, shared libraries, program folder, events
    ["settings"],    # settings store and file, language texts, XML
    ["stream"],      # addresses, HTTP, playlists
    ["audio"],       # audio library, output channel, stream information, metadata
    ["recording", "stations"],
    ["player"],
    ["app"],         # the composition root: Application
    ["frontend"],    # what the console and the desktop window share
    ["cli", "ui"],   # the front ends
]
LINE_LIMIT = 700
SOURCE_ENDINGS = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+([<"])([^">]+)[">]', re.M)


def layer_of(folder):
    for rank, names in enumerate(LAYERS):
        if folder in names:
            return rank
    return None


def check(root):
    breaches = []
    for rank, names in enumerate(LAYERS):
        for folder in names:
            top = os.path.join(root, folder)
            for current, _, files in os.walk(top):
                for name in sorted(files):
                    if name.endswith(SOURCE_ENDINGS):
                        breaches += check_file(root, os.path.join(current, name), folder, rank)
    return breaches


def check_file(root, path, folder, rank):
    relative = os.path.relpath(path, root)
    with open(path, encoding="utf-8", errors="replace") as source:
        text = source.read()
    found = []
    lines = text.count("\n")
    if lines > LINE_LIMIT:
        found.append(f"{relative}: {lines} lines; a source file stays within {LINE_LIMIT}")
    for match in INCLUDE.finditer(text):
        bracket, target = match.groups()
        line = text.count("\n", 0, match.start()) + 1
        if bracket == "<":
            if target.split("/")[0].startswith("Q") and folder != "ui":
                found.append(f"{relative}:{line}: includes <{target}>; only ui/ uses Qt")
            continue
        if "/" not in target:
            continue
        dest = target.split("/")[0]
        dest_rank = layer_of(dest)
        if dest == folder or dest_rank is None:
            continue
        if dest_rank >= rank:
            found.append(f"{relative}:{line}: includes \"{target}\"; {folder}/ may include only "
                         f"folders below it ({below(rank)})")
    return found


def below(rank):
    names = [name for names in LAYERS[:rank] for name in names]
    return ", ".join(names) if names else "none"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    breaches = check(root)
    for breach in breaches:
        print(breach)
    if breaches:
        print(f"check_layers: {len(breaches)} breach(es) of the layer order (scripts/check_layers.py)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
