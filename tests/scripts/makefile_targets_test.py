#!/usr/bin/env python3
"""`make run` builds only the programs; `make test` still builds everything."""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def dry_run(target, build_dir):
    # -n prints the recipes without running them; the build folder is made to
    # look configured so no configure step stands in between.
    result = subprocess.run(["make", "-n", "-C", ROOT, target, "BUILD_DIR=" + build_dir, "JOBS=2"],
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        print(result.stderr)
        sys.exit(1)
    return [line for line in result.stdout.splitlines() if line.startswith("cmake --build")]


with tempfile.TemporaryDirectory() as build:
    open(os.path.join(build, "build.ninja"), "w").close()
    run = dry_run("run", build)
    test = dry_run("test", build)
    failures = []
    if len(run) != 1 or "--target korvanel korvanel-cli" not in run[0]:
        failures.append("make run builds: %r" % run)
    if len(test) != 1 or "--target" in test[0]:
        failures.append("make test builds: %r" % test)
    for failure in failures:
        print("FAILED:", failure)
    sys.exit(1 if failures else 0)
