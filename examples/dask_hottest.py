#!/usr/bin/env python3
"""The hottest temperature of every frame across a directory of TOVA recordings,
computed on a dask.distributed cluster.

    python3 examples/dask_hottest.py DIR                         # a LocalCluster of 2 workers
    python3 examples/dask_hottest.py DIR --workers 4
    python3 examples/dask_hottest.py DIR --scheduler tcp://host:8786   # a running cluster

Prints CSV: file, frame, time (as stored, without time zone), hottest degrees
Celsius. Each worker opens the recordings by path, so on a real cluster the
directory must be reachable under the same path on every worker, and the
tova package and its libraries installed there (TOVA_LIBRARY set if needed).
"""
import argparse
import glob
import os
import sys

import dask
from dask.distributed import Client, LocalCluster

import tova


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("directory", help="directory of .tova recordings")
    parser.add_argument("--scheduler", help="address of a running dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="workers of the LocalCluster (default 2)")
    parser.add_argument("--chunk", type=int, default=64, help="frames per task (default 64)")
    args = parser.parse_args(argv)

    paths = sorted(glob.glob(os.path.join(args.directory, "*.tova")))
    if not paths:
        sys.exit(f"no .tova recordings in {args.directory}")
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
    with client:
        hottest, times = [], []
        for path in paths:
            with tova.open(path) as rec:
                hottest.append(rec.to_dask(chunks=args.chunk, celsius=True).max(axis=(1, 2)))
                times.append(rec.times)
        hottest = dask.compute(*hottest)
    print("file,frame,time,hottest_c")
    for path, values, stamps in zip(paths, hottest, times):
        for frame, (value, stamp) in enumerate(zip(values, stamps)):
            print(f"{os.path.basename(path)},{frame},{stamp},{value:.2f}")
    if not args.scheduler:
        cluster.close()


if __name__ == "__main__":
    main()
