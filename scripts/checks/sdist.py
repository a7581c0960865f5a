"""The sdist holds the checkout's own files and nothing from a build folder, and the wheel built
from it is the wheel built from the tree, file for file.

    python3 scripts/checks/sdist.py SDIST TREE_WHEEL SDIST_WHEEL    (in the checkout)
"""
import hashlib, pathlib, sys, tarfile, zipfile
sdist, tree_wheel, sdist_wheel = sys.argv[1:]
with tarfile.open(sdist) as archive:
    members = archive.getmembers()
    for member in members:
        name = member.name.partition("/")[2]
        if not member.isfile() or name == "PKG-INFO":
            continue
        assert not {"build", "__pycache__"} & set(name.split("/")), f"{name} does not belong in the sdist"
        assert archive.extractfile(member).read() == pathlib.Path(name).read_bytes(), f"{name} differs from the checkout's"
def contents(path):
    with zipfile.ZipFile(path) as wheel:
        return {name: hashlib.sha256(wheel.read(name)).hexdigest() for name in wheel.namelist() if not name.endswith("/RECORD")}
tree, from_sdist = contents(tree_wheel), contents(sdist_wheel)
assert tree.keys() == from_sdist.keys(), f"only from the tree: {tree.keys() - from_sdist.keys()}; only from the sdist: {from_sdist.keys() - tree.keys()}"
differ = sorted(name for name in tree if tree[name] != from_sdist[name])
print(f"sdist: {len(members)} files; its wheel and the tree's hold the same {len(tree)} files", f"({', '.join(differ)} built differently)" if differ else "(identical)")
