#!/usr/bin/env python3
"""Mends one defect of widl's stubless (-Oif) proxy output.

For a top-level [out] parameter that points to a pointer (such as the log
string, LPWSTR*), widl writes into the procedure format string the type offset
of the inner string pointer instead of the offset of the FC_RP descriptor in
front of it. The call then returns S_OK but the caller's string stays null.
This rewrites each such offset to the descriptor's own offset. Output that is
already right passes through unchanged.

usage: mend_widl_proxy.py INPUT_P_C OUTPUT_P_C
"""
import re
import sys


def mend(text):
    # "/* 18 (LPWSTR *) */ 0x11, 0x14, /* FC_RP ... [pointer_deref] */
    #  NdrFcShort(0x2), /* Offset= 2 (22) */": the descriptor at 18 leads to 22.
    descriptor = re.compile(
        r"/\* (\d+) \([^)]*\*\) \*/\s*0x11, 0x1[0-9a-f],[^\n]*pointer_deref[^\n]*\n"
        r"\s*NdrFcShort\(0x[0-9a-f]+\),\s*/\* Offset= -?\d+ \((\d+)\) \*/")
    outer_of = {int(inner): int(outer) for outer, inner in descriptor.findall(text)}

    # "/* 66 (parameter pLog) */ NdrFcShort(0x2013), /* flags: ... out ... */
    #  NdrFcShort(0x20), /* stack offset */ NdrFcShort(0x16), /* type offset = 22 */"
    parameter = re.compile(
        r"(/\* \d+ \(parameter (\w+)\) \*/\s*NdrFcShort\(0x[0-9a-f]+\),\s*/\* flags:[^*]*\bout\b[^*]*\*/\s*"
        r"NdrFcShort\(0x[0-9a-f]+\),\s*/\* stack offset = \d+ \*/\s*)"
        r"NdrFcShort\(0x[0-9a-f]+\),(\s*)/\* type offset = (\d+) \*/")
    mended = []

    def rewrite(match):
        offset = int(match.group(4))
        if offset not in outer_of:
            return match.group(0)
        outer = outer_of[offset]
        mended.append("%s: %d -> %d" % (match.group(2), offset, outer))
        return "%sNdrFcShort(0x%x),%s/* type offset = %d */" % (match.group(1), outer, match.group(3), outer)

    return parameter.sub(rewrite, text), mended


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as source:
        text = source.read()
    if "__MIDL_ProcFormatString =" not in text:
        print("mend_widl_proxy: no procedure format string in " + sys.argv[1], file=sys.stderr)
        return 1
    text, mended = mend(text)
    with open(sys.argv[2], "w", encoding="utf-8") as target:
        target.write(text)
    for line in mended:
        print("mend_widl_proxy: " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
