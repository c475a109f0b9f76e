#!/usr/bin/env python3
"""Pillow's figures for the benchmark table: reduce(2) and a BILINEAR resize
of the 1920x1080 frame (as RGBA) to 960x540, medians of process CPU time
over repetitions. Prints 'name seconds pixels' lines."""
import argparse
import statistics
import time

from PIL import Image


def median_time(job, repetitions, inner):
    times = []
    for _ in range(repetitions):
        start = time.process_time()
        for _ in range(inner):
            job()
        times.append((time.process_time() - start) / inner)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--images", required=True)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    frame = Image.open(args.images + "/frame_1920x1080.png").convert("RGBA")
    frame.load()
    pixels = frame.width * frame.height
    half = (frame.width // 2, frame.height // 2)
    jobs = {
        "pillow/reduce2": lambda: frame.reduce(2),
        "pillow/bilinear": lambda: frame.resize(half, Image.BILINEAR),
    }
    for name, job in jobs.items():
        job()  # warm up
        print(f"{name} {median_time(job, args.repetitions, 10):.9f} {pixels}", flush=True)


if __name__ == "__main__":
    main()
