#!/usr/bin/env python3
"""Checks that a build cannot contract a * b + c into a fused multiply-add behind the code's back:
every C++ translation unit in the build's compile_commands.json is compiled with
-ffp-contract=off, and the build's compiler, given one unit's very flags, keeps a * b + c in a
probe apart, while the same probe without the flag does get a fused instruction (so the probe
can see one). Written for arm64, whose compilers contract by default; explicit std::fma calls are
the code's own and are not looked for.

usage: check_contraction.py BUILD_DIR OBJDUMP
"""

import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

FLAG = "-ffp-contract=off"
FUSED = re.compile(r"\bf(n?madd|n?msub|mla|mls)\b")
PROBE = "float Probe(float a, float b, float c) { return a * b + c; }\n"


def fused_instructions(command, directory, objdump):
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "probe.cpp")
        target = os.path.join(work, "probe.o")
        with open(source, "w") as f:
            f.write(PROBE)
        subprocess.run(command + ["-c", source, "-o", target], cwd=directory, check=True)
        listing = subprocess.run([objdump, "-d", target], capture_output=True, text=True, check=True).stdout
        return FUSED.findall(listing)


def main():
    build, objdump = sys.argv[1:3]
    with open(os.path.join(build, "compile_commands.json")) as f:
        units = json.load(f)
    faults = []
    for unit in units:
        words = unit["arguments"] if "arguments" in unit else shlex.split(unit["command"])
        if FLAG not in words:
            faults.append("%s is compiled without %s" % (unit["file"], FLAG))
    # The first unit's flags without its own source and output.
    words = units[0]["arguments"] if "arguments" in units[0] else shlex.split(units[0]["command"])
    flags = []
    skip = False
    for word in words:
        if skip:
            skip = False
        elif word in ("-o", "-c"):
            skip = True
        else:
            flags.append(word)
    if fused_instructions(flags, units[0]["directory"], objdump):
        faults.append("the compiler fuses a * b + c despite " + FLAG)
    if not fused_instructions([w for w in flags if w != FLAG], units[0]["directory"], objdump):
        faults.append("the probe shows no fused instruction even without " + FLAG + ": it cannot see one")
    for fault in faults:
        print("contraction: FAIL " + fault)
    if not faults:
        print("contraction: %d units compiled with %s; the compiler honours it" % (len(units), FLAG))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
