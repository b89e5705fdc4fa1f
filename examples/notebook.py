# A researcher's notebook, cell by cell (each "# %%" starts a cell): load a
# particle file, select by lasso without any display, plot the selection and
# its surface into a PNG, and tabulate the sample results per technique.
#
#   PYTHONPATH=build/python /usr/bin/python3 examples/notebook.py [OUT.png]
# %%
import os
import sys

import matplotlib

matplotlib.use("Agg")  # no display: draw into a file
import matplotlib.pyplot as plt
import pandas as pd

import trellan

here = os.path.dirname(os.path.abspath(__file__))
out = sys.argv[1] if len(sys.argv) > 1 else "notebook.png"

# %% Load a file of docs/data-formats.md and select by lasso.
ds = trellan.load(os.path.join(here, "water.xyz"))
cam = trellan.Camera.default(ds, viewport=(800, 600))
sel = trellan.Selection(ds, cam)
count = sel.lasso([(250, 150), (550, 150), (550, 450), (250, 450)], mode="plus", technique="density")
print(f"selected {count} of {len(ds)} particles in {sel.lasso_ms:.1f} ms")

# %% Plot the particles, the selected ones and the selection surface.
p, mask = ds.positions, sel.mask
vertices, triangles = sel.surface
fig = plt.figure(figsize=(10, 5))
left = fig.add_subplot(1, 2, 1)
left.scatter(p[~mask, 0], p[~mask, 1], s=1, c="lightgray")
left.scatter(p[mask, 0], p[mask, 1], s=1, c="crimson")
left.set_title(f"{count} selected")
left.set_aspect("equal")
right = fig.add_subplot(1, 2, 2, projection="3d")
if len(triangles):
    right.plot_trisurf(vertices[:, 0], vertices[:, 1], vertices[:, 2], triangles=triangles, color="lightblue")
right.set_title("selection surface")
fig.savefig(out, dpi=80)
print(f"wrote {out}")

# %% The sample session's results, per technique.
results = trellan.read_results(os.path.join(here, "sample-results"))
trials = pd.concat([pd.DataFrame(t) for name, t in results.items() if name.endswith("_trials.csv")])
print(trials.groupby("technique")[["completion_time_s", "f1"]].mean().round(3).to_string())
