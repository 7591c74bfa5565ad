#!/usr/bin/env python3
"""The display controller's facts, read from the one header that holds them
(OptionRomPkg/Include/IndustryStandard/TavrixDisplayController.h), for the
scripts: parsed on every use, so nothing generated can go stale.

  import facts; facts.value("TAVRIX_APERTURE_BASE"); facts.modes()
  facts.py shell    NAME=0x... lines for a shell's eval, plus
                    TAVRIX_APERTURE_END and TAVRIX_GOP_MODES="640x480 ..."
  facts.py --check  the C compiler reads the same values and modes as this
                    parser (exit status 1 and the differences otherwise)
"""
import os
import re
import subprocess
import sys
import tempfile

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                      "OptionRomPkg", "Include", "IndustryStandard", "TavrixDisplayController.h")
DEFINE = re.compile(r"^#define\s+(TAVRIX_[A-Z0-9_]+)\s+(0[xX][0-9A-Fa-f]+|[0-9]+)[uUlL]*\s*(?://.*)?$")
MODES = re.compile(r"^#define\s+TAVRIX_GOP_MODES\(\s*(\w+)\s*\)\s+(.*)$")


def _read():
    values, modes = {}, None
    with open(HEADER) as f:
        for line in f:
            m = DEFINE.match(line.strip())
            if m:
                values[m.group(1)] = int(m.group(2), 0)
            m = MODES.match(line.strip())
            if m:
                pairs = re.findall(re.escape(m.group(1)) + r"\s*\(\s*(\d+)\s*,\s*(\d+)\s*\)", m.group(2))
                modes = [(int(w), int(h)) for w, h in pairs]
    return values, modes


def value(name):
    return _read()[0][name]


def modes():
    return _read()[1]


def shell_lines():
    values, mode_list = _read()
    lines = ["%s=0x%X" % (name, v) for name, v in sorted(values.items())]
    lines.append("TAVRIX_APERTURE_END=0x%X" % (values["TAVRIX_APERTURE_BASE"] + values["TAVRIX_APERTURE_SIZE"] - 1))
    lines.append('TAVRIX_GOP_MODES="%s"' % " ".join("%dx%d" % m for m in mode_list))
    return lines


def compiler_view():
    """Every object-like TAVRIX_ macro and the mode list, as C evaluates them."""
    names = re.findall(r"^#define (TAVRIX_[A-Z0-9_]+) ",
                       subprocess.run(["cc", "-E", "-dM", HEADER], check=True, capture_output=True, text=True).stdout,
                       re.M)
    names = [n for n in names if not n.endswith("_H_")]
    program = '#include <stdio.h>\n#include "%s"\n#define PRINT_MODE(W, H) printf ("mode %%d %%d\\n", W, H);\n' \
              "int main (void) {\n" % os.path.abspath(HEADER)
    program += "".join('  printf ("%s %%llu\\n", (unsigned long long)(%s));\n' % (n, n) for n in names)
    program += "  TAVRIX_GOP_MODES (PRINT_MODE)\n  return 0;\n}\n"
    with tempfile.TemporaryDirectory() as tmp:
        src, exe = os.path.join(tmp, "facts.c"), os.path.join(tmp, "facts")
        with open(src, "w") as f:
            f.write(program)
        subprocess.run(["cc", "-Wall", "-Werror", "-o", exe, src], check=True)
        out = subprocess.run([exe], check=True, capture_output=True, text=True).stdout.split("\n")
    values = {w[0]: int(w[1]) for w in (l.split() for l in out) if w and w[0] != "mode"}
    return values, [(int(w[1]), int(w[2])) for w in (l.split() for l in out) if w and w[0] == "mode"]


def check():
    parsed, compiled = _read(), compiler_view()
    problems = ["%s: the compiler reads %s, the parser %s" % (n, compiled[0].get(n), parsed[0].get(n))
                for n in sorted(set(parsed[0]) | set(compiled[0])) if parsed[0].get(n) != compiled[0].get(n)]
    if parsed[1] != compiled[1]:
        problems.append("modes: the compiler reads %s, the parser %s" % (compiled[1], parsed[1]))
    if len(parsed[1] or []) != parsed[0].get("TAVRIX_GOP_MODE_COUNT"):
        problems.append("TAVRIX_GOP_MODES lists %d modes, TAVRIX_GOP_MODE_COUNT says %s"
                        % (len(parsed[1] or []), parsed[0].get("TAVRIX_GOP_MODE_COUNT")))
    print("\n".join(problems) or "facts: %d values and %d modes read alike" % (len(parsed[0]), len(parsed[1])))
    return not problems


if __name__ == "__main__":
    if sys.argv[1:] == ["shell"]:
        print("\n".join(shell_lines()))
    elif sys.argv[1:] == ["--check"]:
        sys.exit(0 if check() else 1)
    else:
        sys.exit("usage: facts.py shell | --check")
