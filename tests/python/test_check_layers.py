"""scripts/check-layers on a small tree of its own: the sub-folders of src/reader are ordered as
the top-level folders are."""

import pathlib
import shutil
import subprocess
import sys

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "check-layers"
if not SCRIPT.exists():  # the installed wheel's tests run from a copy of tests/ alone
    pytest.skip("scripts/check-layers is a checkout's: not beside these tests", allow_module_level=True)


def run_on(tmp_path, files):
    (tmp_path / "scripts").mkdir()
    shutil.copy(SCRIPT, tmp_path / "scripts" / "check-layers")
    for name, text in files.items():
        path = tmp_path / "src" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    done = subprocess.run([sys.executable, str(tmp_path / "scripts" / "check-layers")],
                          capture_output=True, text=True, check=False)
    return done.returncode, done.stdout.splitlines()


BASE = {"reader/lines/line_reader.h": '#include "text/utf8.h"\n', "text/utf8.h": ""}


@pytest.mark.parametrize("files, code, lines", [
    ({"reader/scan/plot_scan.h": '#include "reader/lines/line_reader.h"\n#include "failure/failure.h"\n'},
     0, ["layers: no upward include"]),
    ({"reader/lines/file_source.h": '#include "reader/scan/plot_scan.h"\n', "reader/scan/plot_scan.h": ""},
     1, ['src/reader/lines/file_source.h:1: reader/lines includes "reader/scan/plot_scan.h" from a layer above',
         "layers: 1 problem(s)"]),
    ({"reader/scan/plot_scan.h": '#include "reader/plot_scan.h"\n'},
     1, ['src/reader/scan/plot_scan.h:1: "reader/plot_scan.h" is in no layer of reader/', "layers: 1 problem(s)"]),
    ({"reader/plot_scan.h": ""},
     1, ["src/reader/plot_scan.h: reader/ holds its files in its layers "
         "(lines, layout, targets, scan, parts, readers)", "layers: 1 problem(s)"]),
    ({"text/tokens.h": '#include "reader/lines/line_reader.h"\n'},
     1, ['src/text/tokens.h:1: text includes "reader/lines/line_reader.h" from a layer above', "layers: 1 problem(s)"]),
    ({"codec/decoder.h": '#include "platform/platform.h"\n#include "console/raw_sink.h"\n'},
     1, ['src/codec/decoder.h:2: codec includes "console/raw_sink.h" from a layer above', "layers: 1 problem(s)"]),
], ids=["downward", "upward-sub-layer", "unknown-sub-layer", "loose-file", "upward-layer", "codec-below-console"])
def test_reader_sub_layers_are_ordered(tmp_path, files, code, lines):
    assert run_on(tmp_path, BASE | files) == (code, lines)
