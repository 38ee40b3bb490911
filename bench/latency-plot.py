"""Histograms of the latencies that vantrel_latency --samples-file wrote:
one panel per file (its number of sensors), one curve per output, with the
median and 99th percentile of each in the legend.

Usage: python3 bench/latency-plot.py PICTURE.png SAMPLES.csv [SAMPLES.csv...]
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy  # noqa: E402


def read(path):
    outputs = {}
    sensors = ""
    with open(path, newline="") as file:
        for row in csv.DictReader(file):
            sensors = row["sensors"]
            outputs.setdefault(row["output"], []).append(float(row["microseconds"]))
    return sensors, outputs


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    files = sys.argv[2:]
    figure, axes = plt.subplots(len(files), 1, figsize=(9, 3.6 * len(files)), squeeze=False)
    bins = numpy.logspace(1, 4.5, 120)  # 10 us to 32 ms
    for axis, path in zip(axes[:, 0], files):
        sensors, outputs = read(path)
        for name, values in outputs.items():
            values = numpy.array(values)
            median, p99 = numpy.percentile(values, [50, 99])
            label = f"{name}: median {median:.0f} µs, p99 {p99:.0f} µs, max {values.max():.0f} µs"
            axis.hist(numpy.clip(values, bins[0], bins[-1]), bins=bins, histtype="step", linewidth=1.3, label=label)
        axis.set_xscale("log")
        axis.set_yscale("log")
        axis.set_xlabel("closing phasing byte to the consumer (µs)")
        axis.set_ylabel("samples")
        unit = "sensor" if sensors == "1" else "sensors"
        count = len(next(iter(outputs.values()))) if outputs else 0
        axis.set_title(f"{sensors} {unit}, 823 records/s, {count} samples per output")
        axis.grid(True, which="major", alpha=0.3)
        axis.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(sys.argv[1], dpi=110)


if __name__ == "__main__":
    main()
