#!/usr/bin/env python3
"""The summary line of make demo, from what its runs left behind.

usage: demo_summary.py BUILD_NAME MANIFEST_JSON WORK_DIR PROGRAM_WINPATH IMAGES... -- EXCLUDED...

It checks that the first run fetched and copied every symbol file the store
holds for the sample images that are not excluded (into DEST/<extension>/),
that the second run found every such image already available and copied
nothing, and that the debugger gave the same verdicts in both runs. Prints
one line and exits 1 when any of that does not hold.
"""
import json
import os
import sys


def image_blocks(log_path, program, images):
    """For each sample image, the output lines from its "QUILLM: File:" line
    up to the next image's, and the debugger's verdict line on it."""
    blocks = {}
    current = None
    with open(log_path, errors="replace") as log:
        for line in log:
            line = line.rstrip("\r\n")
            if line.startswith("QUILLM: File: "):
                path = line[len("QUILLM: File: "):].lower()
                name = path.rsplit("\\", 1)[-1]
                current = name if path.startswith(program) and name in images else None
                if current:
                    blocks[current] = []
            elif current:
                blocks[current].append(line)
    return blocks


def verdicts(blocks):
    return {name: any(line.startswith("Loaded symbols for '") for line in lines) for name, lines in blocks.items()}


def main():
    build_name, manifest_path, work, program = sys.argv[1:5]
    rest = sys.argv[5:]
    split = rest.index("--")
    images = [name.lower() for name in rest[:split]]
    excluded = {name.lower() for name in rest[split + 1:]}
    program = program.lower()
    with open(manifest_path) as f:
        manifest = {image["name"].lower(): image for image in json.load(f)["images"]}

    expected = [os.path.join(name.rsplit(".", 1)[1], symbol)
                for name in images if name not in excluded for symbol in manifest[name]["symbol_files"]]
    with_symbols = [name for name in images if name not in excluded and manifest[name]["symbol_files"]]
    copied = [path for path in expected if os.path.isfile(os.path.join(work, "dest", path))]

    first = image_blocks(os.path.join(work, "first.log"), program, images)
    second = image_blocks(os.path.join(work, "second.log"), program, images)
    copies_again = sum(line.startswith("QUILLM: Copying to ") for lines in second.values() for line in lines)
    available = [name for name in with_symbols
                 if "QUILLM: Symbols are already available." in second.get(name, [])]
    found_first, found_second = verdicts(first), verdicts(second)

    ok = (len(copied) == len(expected) and len(available) == len(with_symbols) and copies_again == 0
          and set(first) == set(images) and found_first == found_second)
    print(f"== Summary ({build_name} build): first run fetched and copied {len(copied)} of {len(expected)} "
          f"symbol files; the debugger found matching symbols for {sum(found_first.values())} of {len(images)} "
          f"images (PDB 7.00, export-only and excluded images have none it can use); second run: "
          f"{len(available)} of {len(with_symbols)} images already available, {copies_again} copied, the same "
          f"verdicts. {'OK' if ok else 'FAILED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
