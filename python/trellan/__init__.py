"""The trellan selection engine for notebooks and scripts, without a display.

The engine runs the lassos the GUI runs, with the lasso image it computes
itself; see docs/python.md.
"""
import csv
import os

from ._engine import Camera, Dataset, Selection, load, replay, techniques

__all__ = ["Camera", "Dataset", "Selection", "load", "replay", "techniques", "read_results"]


def _number(text):
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def read_results(directory):
    """Every trials, lassos and events file of a results folder, by file name:
    each a dict of columns (lists), which pandas.DataFrame takes as it is."""
    if not os.path.isdir(directory):
        raise OSError(f"{directory}: no such results folder")
    tables = {}
    for name in sorted(os.listdir(directory)):
        if not name.endswith((".csv",)) or not any(k in name for k in ("_trials", "_lassos", "_events")):
            continue
        with open(os.path.join(directory, name), newline="") as f:
            rows = list(csv.reader(f))
        if not rows:
            continue
        header, body = rows[0], rows[1:]
        for i, row in enumerate(body):
            if len(row) != len(header):
                raise ValueError(f"{name}:{i + 2}: {len(row)} fields, the header has {len(header)}")
        tables[name] = {column: [_number(row[c]) for row in body] for c, column in enumerate(header)}
    return tables
