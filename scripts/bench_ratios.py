#!/usr/bin/env python3
"""Prints the ratio table of scripts/bench: for each pair of bench/pairs whose binary ran, the ratio
in every round (repetition i of the project against repetition i of the peer), then the median and
the spread (lowest and highest) over the rounds, and the peer's own median figure (its time per
iteration, or the counter): a ratio says little without how fast the peer ran on that machine.

usage: bench_ratios.py PAIRS RESULT.json...   (each result is named <binary>.json)
"""
import json
import os
import statistics
import sys


def read_pairs(path):
    pairs = []
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            fields = line.split("#", 1)[0].split()
            if not fields:
                continue
            if len(fields) != 4:
                sys.exit(f"{path}:{number}: want 'binary measure project peer', got {line.strip()!r}")
            pairs.append(tuple(fields))
    return pairs


def rounds(results, benchmark):
    """The per-iteration figures of each round of `benchmark`, in round order."""
    found = {}
    for run in results.get("benchmarks", []):
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        if run["run_name"].split("/")[0] != benchmark and run["run_name"] != benchmark:
            continue
        found[run.get("repetition_index", 0)] = run
    return [found[index] for index in sorted(found)]


def figure(run, measure):
    if measure in ("rate", "time"):
        return run["real_time"]
    return run.get(measure)


def peer_median(measure, runs):
    figures = [figure(run, measure) for run in runs]
    figures = [f for f in figures if f is not None]
    if not figures:
        return ""
    unit = f" {runs[0].get('time_unit', '')}" if measure in ("rate", "time") else ""
    return f"{statistics.median(figures):.4g}{unit}"


def ratio(measure, project, peer):
    if project is None or peer is None or project == 0 or peer == 0:
        return None
    return peer / project if measure == "rate" else project / peer


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    results = {}
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as file:
            results[os.path.splitext(os.path.basename(path))[0]] = json.load(file)
    rows = []
    for binary, measure, project, peer in read_pairs(sys.argv[1]):
        if binary not in results:
            continue
        ours = rounds(results[binary], project)
        theirs = rounds(results[binary], peer)
        values = [ratio(measure, figure(a, measure), figure(b, measure)) for a, b in zip(ours, theirs)]
        values = [v for v in values if v is not None]
        if values:
            spread = f"{min(values):.3f}-{max(values):.3f}"
            rows.append((project, peer, measure, f"{statistics.median(values):.3f}x", spread, str(len(values)),
                         peer_median(measure, theirs)))
        else:
            rows.append((project, peer, measure, "n/a", "", "0", ""))
    if not rows:
        return
    header = ("project", "peer", "measure", "median", "spread", "rounds", "peer's own")
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    print()
    for row in [header] + rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


if __name__ == "__main__":
    main()
