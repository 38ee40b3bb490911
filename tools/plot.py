#!/usr/bin/env python3
"""Draws a recording of vantrel-host (--record FILE, JSON lines or CSV) into one
PNG picture: the top view (x, y) and the side view (x, z) of every tracker's
path, and its azimuth, elevation and roll over time.

Usage: python3 tools/plot.py RECORD PICTURE.png
Needs matplotlib (Debian: python3-matplotlib)."""
import csv
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

POSE = ("x", "y", "z", "azimuth", "elevation", "roll")


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
            paths.setdefault(key, []).append((float(row["time"]), {name: float(row[name]) for name in POSE}))
    return paths


def draw(paths, picture):
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
    top.set(title="Top view", xlabel="x (feet)", ylabel="y (feet)")
    side.set(title="Side view", xlabel="x (feet)", ylabel="z (feet)")
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
    if len(arguments) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    draw(read_samples(arguments[0]), arguments[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
