"""Instructions beyond the baseline stay inside the wider levels' namespaces.

Usage: isa_isolation.py BINARY...   (objects, archives or shared libraries)

A function whose name does not mention isa_v3 or isa_v4 may be shared: an inline function or a
template instantiation emitted by several objects is one symbol, and the linker keeps any one
copy, also for callers at the baseline. Every such function must be made of baseline x86-64
instructions only, or a baseline processor could meet an AVX instruction through it.
"""
import re
import subprocess
import sys

# VEX and EVEX encodings (every mnemonic with a v prefix), their registers, and BMI, LZCNT, MOVBE.
WIDE = re.compile(r"^(v\w+|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|"
                  r"movbe|lzcnt|k\w+)\b|%[yz]mm|%k[0-7]\b")
LEVELS = re.compile(r"isa_v[34]")

failures = []
for binary in sys.argv[1:]:
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", binary], check=True,
                             capture_output=True, text=True).stdout
    function = None
    for line in listing.splitlines():
        if header := re.match(r"^[0-9a-f]+ <(.+)>:$", line):
            function = header[1]
        elif function and not LEVELS.search(function) and "\t" in line:
            instruction = line.split("\t", 1)[1].strip()
            if WIDE.search(instruction):
                failures.append(f"{binary}: {function}: {instruction}")
                function = None  # one line per function is enough
for failure in failures:
    print(failure)
print(f"{len(failures)} shared functions with instructions beyond the baseline")
sys.exit(1 if failures else 0)
