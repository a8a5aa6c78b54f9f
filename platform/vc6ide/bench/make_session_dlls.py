#!/usr/bin/env python3
"""The DLLs of the IDE session benchmark: COUNT small DLLs, each with an NB10
CodeView record naming a PDB 2.00 of its own, for the machine given, and a
program that imports a function from each of them.

usage: make_session_dlls.py OUT_DIR COUNT (i386|amd64)

OUT_DIR/images/sessionNNN.dll   the DLLs (base addresses 1 MB apart)
OUT_DIR/imports.exe             imports SessionNNN from each DLL: the loader
                                maps them all before the program starts
OUT_DIR/symbols/sessionNNN.pdb  their PDBs, flat
OUT_DIR/store/...               the same PDBs in symbol store layout
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "samples"))
import gensamples as g  # noqa: E402


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ("i386", "amd64"):
        sys.exit(__doc__)
    out, count = sys.argv[1], int(sys.argv[2])
    machine = g.MACHINE_AMD64 if sys.argv[3] == "amd64" else g.MACHINE_I386
    imports = [("session%03d.dll" % i, ["Session%03d" % i]) for i in range(count)]
    program, _ = g.build_image("imports.exe", False, 0x51100000, 0x400000, imports=imports, machine=machine)
    put(os.path.join(out, "imports.exe"), program)
    for i in range(count):
        name = "session%03d" % i
        signature, age = 0x51000000 + i, 1
        image, _ = g.build_image(name + ".dll", True, 0x51000000 + i, 0x20000000 + i * 0x100000,
                                 exports=["Session%03d" % i],
                                 debug=[g.Debug(g.DEBUG_TYPE_CODEVIEW,
                                                g.nb10_record(signature, age, g.BUILD_DIR + name + ".pdb"), True)],
                                 machine=machine)
        pdb = g.write_pdb20(g.pdb20_streams(signature, age))
        put(os.path.join(out, "images", name + ".dll"), image)
        put(os.path.join(out, "symbols", name + ".pdb"), pdb)
        put(os.path.join(out, "store", name + ".pdb", g.key_pdb20(signature, age), name + ".pdb"), pdb)


if __name__ == "__main__":
    main()
