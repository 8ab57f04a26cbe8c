#!/usr/bin/env python3
"""The layer check fails on an include against the order, naming file and rule."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check_layers.py")


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as out:
                out.write(text)
        result = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True, timeout=60)
        return result.returncode, result.stdout


def expect(condition, what):
    if not condition:
        print("FAILED:", what)
        sys.exit(1)


downward = {
    "base/job.h": "#pragma once\n",
    "settings/store.h": '#include "base/job.h"\n',
    "player/player.cpp": '#include "settings/store.h"\n#include "stream/x.h"\n#include <string>\n',
    "ui/window.cpp": '#include "app/application.h"\n#include <QWidget>\n',
}
code, out = run(downward)
expect(code == 0 and out == "", f"a downward tree passes, got {code}: {out}")

code, out = run({**downward, "settings/scratch.cpp": '#include "base/job.h"\n\n#include "player/player.h"\n'})
expect(code == 1, "an upward include fails")
expect('settings/scratch.cpp:3: includes "player/player.h"; settings/ may include only folders below it (base)'
       in out, f"the message names the file, line and rule: {out}")

code, out = run({**downward, "recording/r.cpp": '#include "stations/list.h"\n'})
expect(code == 1 and "recording/r.cpp:1" in out, f"siblings do not include each other: {out}")

code, out = run({**downward, "audio/a.cpp": "#include <QString>\n"})
expect(code == 1 and "only ui/ uses Qt" in out, f"Qt stays in ui/: {out}")

code, out = run({**downward, "stream/long.cpp": "//\n" * 701})
expect(code == 1 and "stream/long.cpp: 701 lines" in out, f"an overlong file fails: {out}")

print("check_layers: 5 cases passed")
