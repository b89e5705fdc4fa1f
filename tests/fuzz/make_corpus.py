#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into tests/fuzz/corpus/."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


# config.xml
put("fuzz_config", "full.xml", """<?xml version="1.0"?>
<config>
  <startup condition="1" participantID="7"/>
  <mainwindow width="1920" height="1080" fullscreen="0"/>
  <kelvowindow positionx="0.25" positiony="0.5" width="0.5" height="0.5" framesize="0.02"/>
  <operatewindow positionx="0.75" positiony="0.3333" width="0.4" height="0.45" framesize="0.02"/>
  <subspace2dwindow positionx="0.1" positiony="0.1" width="0.3" height="0.4" framesize="0.01"/>
  <subspace3dwindow positionx="0.2" positiony="0.2" width="0.3" height="0.4" framesize="0.01"/>
  <pcpwindow positionx="0.5" positiony="0.5" width="0.2" height="0.2"/>
</config>
""")
put("fuzz_config", "broken.xml", '<config><mainwindow width="800"/><kelvowindow width="0.5" height=""')

# particle files
put("fuzz_dataset_file", "text.txt", "# x y z\n0 0 0\n1,2,3\n  4.5\t5.5 6.5\r\n\n-1e3 2e-3 3\n")
put("fuzz_dataset_file", "raw.raw", struct.pack("<9f", 0, 0, 0, 1, 2, 3, -4, 5.5, 6))
put("fuzz_dataset_formats", "table.csv", 'id,X,"y",z,label\n1,0.5,2,3,1\n2,-1e3,2e-3,3,0\n')
put("fuzz_dataset_formats", "table.tsv", "x\ty\tz\n1\t2\t3\n")
put("fuzz_dataset_formats", "water.xyz", "3\nwater\nO 0 0 0\nH 0.96 0 0\nH -0.24 0.93 0\n")
put("fuzz_dataset_formats", "ascii.ply", "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
    "property float y\nproperty float z\nproperty int label\nend_header\n1 2 3 1\n4 5 6 2\n")
put("fuzz_dataset_formats", "binary.ply", b"ply\nformat binary_big_endian 1.0\nelement face 1\n"
    b"property list uchar int vertex_indices\nelement vertex 2\nproperty double x\nproperty double y\n"
    b"property double z\nproperty uchar label\nend_header\n" + struct.pack(">B3i", 3, 0, 1, 1)
    + struct.pack(">3dB", 1e7, 2, 3, 1) + struct.pack(">3dB", 1e7 + 1, 5, 6, 2))
# The first two bytes choose a header announcing 2^40 records over the rest.
put("fuzz_dataset_formats", "announced-huge", bytes([40, 1]) + struct.pack("<6f", 1, 2, 3, 4, 5, 6))
put("fuzz_dataset_formats", "doubles.f64", struct.pack("<6d", 1e9, 2, 3, 1e9 + 0.5, 5, 6))
put("fuzz_hdf5_validation", "triples", bytes([1, 2, 4, 1, 1] + [0x3f] * 96 + [1, 2]))
# 2^40 rows declared, chunked: four written, or none and compressed.
put("fuzz_hdf5_validation", "declared-huge", bytes([0, 2, 160, 1, 3, 1, 0, 4, 0] + [0x3f] * 96 + [0, 0]))
put("fuzz_hdf5_validation", "declared-huge-deflate", bytes([0, 2, 162, 1, 3, 1, 0, 0, 0, 0, 0]))
put("fuzz_hdf5_validation", "groups", bytes([3, 2, 5, 1, 1] + [0x40] * 120 + [1, 3, 1, 1] + [7] * 8 + [2, 2, 2, 3, 1, 0] + [1] * 48 + [4, 1]))

# study files
put("fuzz_study_file", "study.xml", """<?xml version="1.0"?>
<study name="pilot">
  <dataset id="c" builtin="clusters"/>
  <dataset id="d" builtin="disk"/>
  <practice>
    <trial dataset="c" target="1" technique="density"/>
  </practice>
  <block technique="counterbalanced">
    <trial dataset="c" target="2"/>
    <trial dataset="d" target="1"/>
  </block>
</study>
""")


# TUIO 1.1 over OSC
def osc_string(s):
    b = s.encode() + b"\0"
    return b + b"\0" * ((4 - len(b) % 4) % 4)


def osc_message(address, args):
    tags = "," + "".join("i" if isinstance(a, int) else "f" if isinstance(a, float) else "s" for a in args)
    body = b""
    for a in args:
        if isinstance(a, int):
            body += struct.pack(">i", a)
        elif isinstance(a, float):
            body += struct.pack(">f", a)
        else:
            body += osc_string(a)
    return osc_string(address) + osc_string(tags) + body


def osc_bundle(messages):
    out = osc_string("#bundle") + struct.pack(">Q", 1)
    for m in messages:
        out += struct.pack(">i", len(m)) + m
    return out


frame = [osc_message("/tuio/2Dcur", ["source", "test@127.0.0.1"]),
         osc_message("/tuio/2Dcur", ["alive", 3]),
         osc_message("/tuio/2Dcur", ["set", 3, 0.25, 0.75, 0.0, 0.0, 0.0]),
         osc_message("/tuio/2Dcur", ["fseq", 10])]
put("fuzz_tuio", "bundle.osc", osc_bundle(frame))
put("fuzz_tuio", "set.osc", frame[2])
put("fuzz_tuio", "release.osc", osc_bundle([osc_message("/tuio/2Dcur", ["alive"]),
                                            osc_message("/tuio/2Dcur", ["fseq", 11])]))


# kernel input events: struct input_event on 64-bit Linux
def ev(t, c, v):
    return struct.pack("<qqHHi", 0, 0, t, c, v)


EV_SYN, EV_KEY, EV_REL, EV_ABS = 0, 1, 2, 3
touch = (ev(EV_ABS, 0x2F, 0) + ev(EV_ABS, 0x39, 5) + ev(EV_ABS, 0x35, 1000) + ev(EV_ABS, 0x36, 2000)
         + ev(EV_KEY, 0x14A, 1) + ev(EV_SYN, 0, 0) + ev(EV_ABS, 0x35, 1100) + ev(EV_SYN, 0, 0)
         + ev(EV_ABS, 0x39, -1) + ev(EV_KEY, 0x14A, 0) + ev(EV_SYN, 0, 0))
mouse = (ev(EV_REL, 0, 5) + ev(EV_REL, 1, -3) + ev(EV_SYN, 0, 0) + ev(EV_KEY, 0x110, 1) + ev(EV_SYN, 0, 0)
         + ev(EV_REL, 0, 2) + ev(EV_SYN, 0, 0) + ev(EV_KEY, 0x110, 0) + ev(EV_SYN, 0, 0))
put("fuzz_evdev", "touch.events", b"\x30" + touch)
put("fuzz_evdev", "mouse.events", b"\x00" + mouse)


# lassos: a command byte, then two little-endian 16-bit coordinates per point
def lasso(command, pts):
    return bytes([command]) + b"".join(struct.pack("<HH", x, y) for x, y in pts)


square = [(100, 80), (220, 80), (220, 200), (100, 200)]
put("fuzz_lasso", "plus.bin", lasso(0, square))
put("fuzz_lasso", "minus.bin", lasso(1, [(150, 60), (300, 60), (300, 220), (150, 220)]))
put("fuzz_lasso", "cylinder.bin", lasso(8, square))
put("fuzz_lasso", "undo.bin", bytes([5, 0]))
put("fuzz_lasso", "raw.bin", bytes([0x60]) + struct.pack("<6f", 10, 10, 200, 10, 100, float("nan")))
