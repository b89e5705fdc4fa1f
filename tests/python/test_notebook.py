"""examples/notebook.py runs as docs/python.md shows it: a PNG comes out and the
per-technique table names both techniques. Cost: one lasso on water.xyz."""
import os
import subprocess
import sys

SOURCE = os.environ.get("TRELLAN_SOURCE", ".")


def test_the_notebook_runs(tmp_path):
    png = tmp_path / "notebook.png"
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    run = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "notebook.py"), str(png)],
                         env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "selected " in run.stdout
    lines = run.stdout.splitlines()
    assert any(l.startswith("density") for l in lines) and any(l.startswith("cylinder") for l in lines)
