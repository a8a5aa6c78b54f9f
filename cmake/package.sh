#!/usr/bin/env bash
# make package: a zip of the 32-bit build for a real Windows machine, with
# the deliverables, our symbol library, help.html, a sample qx3.ini and the
# install and uninstall scripts (cmake/package/).
#   package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
version=1.0.18
name="Quillmar-$version"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
cp "$build"/bin/{qx3ide.dll,qx3trap.dll,qx3fetch.exe,qx3ps.dll,dbghelp.dll,help.html} "$stage/"
cp "$root"/cmake/package/{install.cmd,uninstall.cmd,qx3.ini,README.txt} "$stage/"
python3 - "$build/package" "$name" "$build/$name.zip" <<'PY'
import os, sys, zipfile
base, name, target = sys.argv[1:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for entry in sorted(os.listdir(os.path.join(base, name))):
        archive.write(os.path.join(base, name, entry), f"{name}/{entry}")
PY
echo "== $build/$name.zip:"
python3 -c 'import sys, zipfile; [print(f"   {i.file_size:>9}  {i.filename}") for i in zipfile.ZipFile(sys.argv[1]).infolist()]' "$build/$name.zip"
