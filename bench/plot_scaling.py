"""Draws the speed-up figure of the README from bench_chunked.py's report.

    python3 bench/plot_scaling.py bench/scaling.json bench/scaling.png

Left: each chunked operator's speed-up over the single call with 1 and 2
workers; right: the batch run's throughput with 1 and 2 workers, relative
to 1 worker.
"""

import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(report_path, image_path):
    with open(report_path) as f:
        report = json.load(f)
    ops = report["operators"]
    workers = sorted({int(k[len("workers"):].split("_")[0]) for e in ops.values() for k in e
                      if k.startswith("workers")})
    fig, (left, right) = plt.subplots(1, 2, figsize=(9, 3.6), width_ratios=[3, 1])
    width = 0.8 / max(len(workers), 1)
    for n, w in enumerate(workers):
        ratios = [e["single_seconds"] / e[f"workers{w}_seconds"] for e in ops.values()]
        bars = left.bar([k + n * width for k in range(len(ops))], ratios, width,
                        label=f"{w} worker{'s' if w > 1 else ''}")
        left.bar_label(bars, fmt="%.2f", fontsize=8)
    left.axhline(1, color="grey", lw=0.8)
    left.set_xticks([k + width * (len(workers) - 1) / 2 for k in range(len(ops))], list(ops))
    left.set_ylabel("speed-up over the single call")
    left.set_title(f"{report['size']} x {report['size']} image, {report['chunk']}-pixel chunks",
                   fontsize=10)
    left.legend(fontsize=8)
    batch = report.get("batch") or {}
    if batch:
        base = batch[f"workers{workers[0]}_files_per_second"]
        ratios = [batch[f"workers{w}_files_per_second"] / base for w in workers]
        bars = right.bar([str(w) for w in workers], ratios, color=["C0", "C1"][:len(workers)])
        right.bar_label(bars, fmt="%.2f", fontsize=8)
        right.set_xlabel("workers")
        right.set_ylabel("throughput / 1 worker")
        right.set_title(f"batch: {report['batch_images']} images of {report['batch_size']}²",
                        fontsize=10)
    fig.suptitle(f"medians of {report['reps']} runs on a 2-core machine", fontsize=9)
    fig.tight_layout()
    fig.savefig(image_path, dpi=90)


if __name__ == "__main__":
    main(*sys.argv[1:3])
