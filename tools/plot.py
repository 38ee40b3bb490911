#!/usr/bin/env python3
"""Draws a recording of vantrel-host (--record FILE, JSON lines or CSV) into one
PNG picture: the top view (x, y) and the side view (x, z) of every tracker's
path, and its azimuth, elevation and roll over time.

Usage: python3 tools/plot.py RECORD PICTURE.png [--units feet|inches|m]
--units: the units of the record's positions (vantrel-host --units); feet
when not given. Records of --rotation quaternion or matrix are drawn as angles.
Needs matplotlib (Debian: python3-matplotlib)."""
import csv
import json
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

POSITION = ("x", "y", "z")
MATRIX = ("m00", "m01", "m02", "m10", "m11", "m12", "m20", "m21", "m22")


def angles_of(m):
    """Azimuth, elevation, roll in degrees of a rotation matrix (row by row), as the module takes them apart."""
    return {
        "azimuth": math.degrees(math.atan2(m[2], m[8])),
        "elevation": math.degrees(math.atan2(-m[5], math.hypot(m[2], m[8]))),
        "roll": math.degrees(math.atan2(m[3], m[4])),
    }


def orientation(row):
    """The angles of a sample, whatever form the record gives them in."""
    if row.get("azimuth") not in (None, ""):
        return {name: float(row[name]) for name in ("azimuth", "elevation", "roll")}
    if row.get("qw") not in (None, ""):
        w, x, y, z = (float(row[name]) for name in ("qw", "qx", "qy", "qz"))
        return angles_of((1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w),
                          2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                          2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)))
    return angles_of([float(row[name]) for name in MATRIX])


def read_samples(path):
    """The tracker samples of a recording: {(device, tracker): [(time, pose dict), ...]}."""
    paths = {}
    with open(path, newline="") as stream:
        first = stream.readline()
        stream.seek(0)
        if first.startswith("{"):
            rows = (json.loads(line) for line in stream if line.strip())
        else:
            rows = csv.DictReader(stream)
        for row in rows:
            if row.get("tracker") in (None, ""):
                continue
            key = (row["device"], int(row["tracker"]))
            pose = {name: float(row[name]) for name in POSITION}
            pose.update(orientation(row))
            paths.setdefault(key, []).append((float(row["time"]), pose))
    return paths


def draw(paths, picture, units):
    figure, axes = plt.subplots(2, 2, figsize=(12, 9))
    top, side, angles, legend = axes[0][0], axes[0][1], axes[1][0], axes[1][1]
    start = min((samples[0][0] for samples in paths.values()), default=0.0)
    styles = {"azimuth": "-", "elevation": "--", "roll": ":"}
    # One colour per tracker in every view; the line style tells the angles apart.
    for index, ((device, tracker), samples) in enumerate(sorted(paths.items())):
        label = f"{device} tracker {tracker}"
        colour = f"C{index % 10}"
        xs = [pose["x"] for _, pose in samples]
        top.plot(xs, [pose["y"] for _, pose in samples], color=colour, label=label)
        side.plot(xs, [pose["z"] for _, pose in samples], color=colour, label=label)
        times = [time - start for time, _ in samples]
        for name, style in styles.items():
            angles.plot(times, [pose[name] for _, pose in samples], style, color=colour, label=f"{label} {name}")
    top.set(title="Top view", xlabel=f"x ({units})", ylabel=f"y ({units})")
    side.set(title="Side view", xlabel=f"x ({units})", ylabel=f"z ({units})")
    angles.set(title="Angles", xlabel="time (seconds)", ylabel="degrees")
    for view in (top, side):
        view.set_aspect("equal", adjustable="datalim")
        view.grid(True)
    angles.grid(True)
    legend.axis("off")
    handles, labels = angles.get_legend_handles_labels()
    legend.legend(handles, labels, loc="center")
    if not paths:
        legend.text(0.5, 0.9, "no tracker samples in the recording", ha="center")
    figure.tight_layout()
    figure.savefig(picture, dpi=100)


def main(arguments):
    units = "feet"
    if len(arguments) == 4 and arguments[2] == "--units" and arguments[3] in ("feet", "inches", "m"):
        units = arguments[3]
        arguments = arguments[:2]
    if len(arguments) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    draw(read_samples(arguments[0]), arguments[1], units)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
