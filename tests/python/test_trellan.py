"""import trellan against the C++ side: the snippet of docs/python.md call by
call, with counts and masks compared to trellan-select's (no display), the
sample replay, several datasets in one interpreter against fresh processes,
errors as exceptions, and two threads. In: PYTHONPATH=build/python,
TRELLAN_SELECT, TRELLAN_SOURCE, TRELLAN_TECHNIQUE_DIR (the example technique). Cost: a few lassos on 300 000 particles."""
import os
import re
import subprocess
import sys
import threading

import numpy as np
import pytest

import trellan

TOOL = os.environ.get("TRELLAN_SELECT", "build/tools/trellan-select")
SOURCE = os.environ.get("TRELLAN_SOURCE", ".")
SQUARE = [(300, 200), (500, 200), (500, 400), (300, 400)]


def tool(*args, out=None, extra=None):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(extra or {})
    cmd = [TOOL, *args] + (["--out", out] if out else [])
    run = subprocess.run(cmd, env=env, capture_output=True, text=True, check=True)
    return [int(k) for k in re.findall(r"^selected (\d+) of", run.stdout, re.M)]


def spec(mode, technique, points):
    return f"{mode}:{technique}:" + ";".join(f"{x},{y}" for x, y in points)


@pytest.fixture(scope="module")
def clusters():
    return trellan.load("clusters")


def test_the_snippet_equals_the_tool(clusters, tmp_path):
    ds = clusters
    assert ds.positions.dtype == np.float32 and ds.positions.shape == (len(ds), 3)
    assert not ds.positions.flags.writeable
    with pytest.raises(ValueError):
        ds.positions[0, 0] = 1
    assert ds.labels is not None and ds.labels.shape == (len(ds),)
    assert ds.offset.dtype == np.float64 and ds.offset.shape == (3,)
    box = ds.density_box
    assert ds.density.shape == box["shape"] and ds.density.dtype == np.float64
    assert ds.density.max() > 0

    cam = trellan.Camera.default(ds, viewport=(800, 600))
    sel = trellan.Selection(ds, cam)
    first = sel.lasso(SQUARE, mode="plus", technique="density")
    second = sel.lasso([(350, 100), (700, 100), (700, 500), (350, 500)], mode="minus", technique="cylinder")
    out = tmp_path / "selected.txt"
    assert [first, second] == tool("--dataset", "clusters", "--lasso", spec("plus", "density", SQUARE),
                                   "--lasso", spec("minus", "cylinder", [(350, 100), (700, 100), (700, 500), (350, 500)]),
                                   out=str(out))
    mask = sel.mask
    assert mask.dtype == np.bool_ and mask.shape == (len(ds),)
    assert np.array_equal(np.flatnonzero(mask), np.loadtxt(out, dtype=np.int64, ndmin=1))

    assert sel.undo() == first and sel.redo() == second
    sel.threshold = 1.5
    assert sel.threshold == 1.5 and 0 < sel.count <= first
    vertices, triangles = sel.surface
    assert vertices.shape[1] == 3 and triangles.shape[1] == 3 and len(triangles) > 0
    assert triangles.max() < len(vertices)
    assert sel.clear() == 0 and not sel.mask.any()

    names = [t["name"] for t in trellan.techniques()]
    assert names == ["density", "cylinder", "structure", "point"]


def test_an_explicit_camera_equals_the_tool(clusters):
    cam = trellan.Camera(eye=(0, 0, 150), center=(0, 0, 0), up=(0, 1, 0), fovy=30, viewport=(640, 480))
    sel = trellan.Selection(clusters, cam)
    points = [(180, 140), (460, 140), (460, 340), (180, 340)]
    matrix = lambda m: " ".join(repr(v) for v in m)
    expected = tool("--dataset", "clusters", "--viewport", "640x480", "--view", matrix(cam.view),
                    "--projection", matrix(cam.projection), "--lasso", spec("plus", "density", points))
    assert sel.lasso(points) == expected[0] > 0


def test_results_and_replay(clusters):
    results = trellan.read_results(os.path.join(SOURCE, "examples", "sample-results"))
    assert "P1_lassos.csv" in results and "P1_trials.csv" in results
    lassos = results["P1_lassos.csv"]
    assert len(lassos["selected"]) == len(lassos["points"]) > 0
    log = os.path.join(SOURCE, "examples", "sample-results", "P1_lassos.csv")
    steps = trellan.replay(log, dataset=clusters, only_dataset="clusters")
    counts = tool("--replay", log, "--only-dataset", "clusters", "--dataset", "clusters")
    assert [s["reproduced"] for s in steps] == counts
    assert all(s["logged"] == s["reproduced"] for s in steps) and len(steps) == 3
    with pytest.raises(OSError, match="nothing.csv"):
        trellan.replay("nothing.csv", dataset=clusters)


SCRIPT = """
import sys, trellan
ds = trellan.load(sys.argv[1])
sel = trellan.Selection(ds, trellan.Camera.default(ds, viewport=(640, 480)))
print(sel.lasso([(200, 150), (440, 150), (440, 330), (200, 330)]), sel.lasso([(100, 100), (400, 120), (300, 400)], mode="intersection", technique="cylinder"))
"""


def test_several_datasets_in_any_order_equal_fresh_processes():
    fresh = {}
    for name in ("disk", "filaments"):
        run = subprocess.run([sys.executable, "-c", SCRIPT, name], capture_output=True, text=True, check=True)
        fresh[name] = [int(k) for k in run.stdout.split()[-2:]]
    disk, filaments = trellan.load("disk"), trellan.load("filaments")
    a = trellan.Selection(filaments, trellan.Camera.default(filaments, viewport=(640, 480)))
    b = trellan.Selection(disk, trellan.Camera.default(disk, viewport=(640, 480)))
    got = {"disk": [], "filaments": []}
    got["disk"].append(b.lasso([(200, 150), (440, 150), (440, 330), (200, 330)]))
    got["filaments"].append(a.lasso([(200, 150), (440, 150), (440, 330), (200, 330)]))
    got["filaments"].append(a.lasso([(100, 100), (400, 120), (300, 400)], mode="intersection", technique="cylinder"))
    got["disk"].append(b.lasso([(100, 100), (400, 120), (300, 400)], mode="intersection", technique="cylinder"))
    assert got == fresh


PLUGIN_SCRIPT = """
import trellan
ds = trellan.load("clusters")
sel = trellan.Selection(ds, trellan.Camera.default(ds, viewport=(640, 480)))
print(" ".join(t["name"] + ":" + t["takes"] for t in trellan.techniques()))
print(sel.lasso([(200, 150), (440, 150), (440, 330), (200, 330)], technique="ball"),
      sel.click((320, 240), mode="minus", technique="ball-click"))
try:
    sel.lasso([(200, 150), (440, 150), (440, 330)], technique="ball-click")
except ValueError as e:
    print(e)
"""


def test_techniques_of_a_shared_object_equal_the_tools():
    names = " ".join(t["name"] + ":" + t["takes"] for t in trellan.techniques())
    assert names == "density:lasso cylinder:lasso structure:lasso point:click"
    plugins = {"TRELLAN_TECHNIQUES": os.environ.get("TRELLAN_TECHNIQUE_DIR", "build/techniques")}
    run = subprocess.run([sys.executable, "-c", PLUGIN_SCRIPT], capture_output=True, text=True, check=True,
                         env={**os.environ, **plugins})
    listed, counts, refusal = run.stdout.strip().splitlines()[-3:]
    assert listed == "density:lasso cylinder:lasso structure:lasso point:click ball:lasso ball-click:click"
    assert refusal == "the ball-click technique takes clicks: use click()"
    assert [int(k) for k in counts.split()] == tool(
        "--dataset", "clusters", "--viewport", "640x480", "--lasso", spec("plus", "ball", [(200, 150), (440, 150), (440, 330), (200, 330)]),
        "--click", "minus:ball-click:320,240", extra=plugins)


def test_bad_input_raises_the_tools_lines(clusters):
    sel = trellan.Selection(clusters, trellan.Camera.default(clusters))
    with pytest.raises(ValueError, match=r"unknown mode 'sideways' \(plus, minus, intersection\)"):
        sel.lasso(SQUARE, mode="sideways")
    with pytest.raises(ValueError, match=r"unknown technique 'magic' \(density, cylinder, structure, point\)"):
        sel.lasso(SQUARE, technique="magic")
    with pytest.raises(ValueError, match="lasso refused"):
        sel.lasso([(1, 1), (1.5, 1), (1, 1.5)])
    with pytest.raises(ValueError, match="could not be loaded"):
        trellan.load("no-such-built-in")
    with pytest.raises(OSError, match="could not be loaded"):
        trellan.load("no/such/file.csv")
    with pytest.raises(ValueError):
        trellan.Camera(eye=(0, 0, 1), center=(0, 0, 1))
    assert sel.lasso(SQUARE) > 0  # the engine is still fine


def test_two_threads_get_what_one_gets(clusters):
    lassos = [[(200 + 20 * i, 150), (500, 150 + 10 * i), (450, 420), (220, 380)] for i in range(4)]
    expected = []
    for points in lassos:
        s = trellan.Selection(clusters, trellan.Camera.default(clusters))
        expected.append(s.lasso(points))
    got = [None] * len(lassos)

    def work(i):
        s = trellan.Selection(clusters, trellan.Camera.default(clusters))
        got[i] = s.lasso(lassos[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(lassos))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected


def f1(selected, target):
    hit = np.count_nonzero(selected & target)
    return 2 * hit / (np.count_nonzero(selected) + np.count_nonzero(target))


def test_structure_and_point_reach_the_tool_and_keep_the_one_cluster(clusters, tmp_path):
    # The sample's camera, under which the square holds cluster 5 in front of
    # parts of clusters 1 and 2.
    log = os.path.join(SOURCE, "examples", "sample-results", "P1_lassos.csv")
    row = open(log).read().splitlines()[1].split(",")
    camera = ["--dataset", "clusters", "--viewport", "640x480", "--view", row[11], "--projection", row[12]]
    square = [(180, 140), (460, 140), (460, 340), (180, 340)]
    target = np.asarray(clusters.labels) == 5
    got = {}
    for technique, stroke in (("density", ["--lasso", spec("plus", "density", square)]),
                              ("structure", ["--lasso", spec("plus", "structure", square)]),
                              ("point", ["--click", "plus:point:320,240"])):
        out = tmp_path / f"{technique}.txt"
        count, = tool(*camera, *stroke, out=str(out))
        selected = np.zeros(len(clusters), dtype=bool)
        selected[np.loadtxt(out, dtype=np.int64, ndmin=1)] = True
        assert np.count_nonzero(selected) == count
        got[technique] = f1(selected, target)
    assert got["structure"] >= 0.95 and got["structure"] >= got["density"] + 0.15, got
    assert got["point"] >= 0.8, got

    # Python and the tool alike, on the default camera.
    sel = trellan.Selection(clusters, trellan.Camera.default(clusters, viewport=(640, 480)))
    strokes = ["--dataset", "clusters", "--viewport", "640x480", "--lasso", spec("plus", "structure", square),
               "--click", "minus:point:320,240"]
    assert [sel.lasso(square, technique="structure"), sel.click((320, 240), mode="minus", technique="point")] == tool(*strokes)
    with pytest.raises(ValueError, match="point technique takes clicks"):
        sel.lasso(square, technique="point")
