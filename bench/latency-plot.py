"""Histograms of the latencies that vantrel_latency --samples-file wrote: one
panel per TITLE=FILE[,FILE...], one curve per output, with its median, 99th
percentile and maximum in the legend.

Usage: python3 bench/latency-plot.py PICTURE.png TITLE=SAMPLES.csv[,SAMPLES.csv...] ...
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy  # noqa: E402


def read(paths):
    outputs = {}
    for path in paths:
        with open(path, newline="") as file:
            for row in csv.DictReader(file):
                outputs.setdefault(row["output"], []).append(float(row["microseconds"]))
    return outputs


def main():
    if len(sys.argv) < 3 or any("=" not in panel for panel in sys.argv[2:]):
        sys.exit(__doc__)
    panels = [panel.split("=", 1) for panel in sys.argv[2:]]
    figure, axes = plt.subplots(len(panels), 1, figsize=(9, 3.4 * len(panels)), squeeze=False)
    bins = numpy.logspace(1, 4, 121)  # 10 us to 10 ms
    for axis, (title, files) in zip(axes[:, 0], panels):
        outputs = read(files.split(","))
        count = 0
        for name, values in outputs.items():
            values = numpy.array(values)
            count = len(values)
            median, p99 = numpy.percentile(values, [50, 99])
            label = f"{name}: median {median:.0f} µs, p99 {p99:.0f} µs, max {values.max():.0f} µs"
            axis.hist(numpy.clip(values, bins[0], bins[-1]), bins=bins, histtype="step", linewidth=1.3, label=label)
        axis.set_xscale("log")
        axis.set_yscale("log")
        axis.set_xlabel("closing phasing byte on the line to the consumer (µs)")
        axis.set_ylabel("samples")
        axis.set_title(f"{title}: 823 records/s, {count} samples per output", fontsize=10)
        axis.grid(True, which="major", alpha=0.3)
        axis.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(sys.argv[1], dpi=100)


if __name__ == "__main__":
    main()
