"""Both modules and their stubs come from the environment's site-packages, none from the checkout.

    PYTHON scripts/checks/installed.py
"""
import importlib.metadata, pathlib, sysconfig
import quorvel, quorvel_arrays, quorvel_arrays._reader
site = pathlib.Path(sysconfig.get_path("platlib")).resolve()
for module in (quorvel, quorvel_arrays, quorvel_arrays._reader):
    assert pathlib.Path(module.__file__).resolve().is_relative_to(site), f"{module.__name__} from {module.__file__}"
for name in ("quorvel-stubs/__init__.pyi", "quorvel_arrays/py.typed", "quorvel_arrays/_reader.pyi"):
    assert (site / name).is_file(), f"{name} is not installed"
print(f"quorvel {importlib.metadata.version('quorvel')}: quorvel, quorvel_arrays and their stubs from {site}")
