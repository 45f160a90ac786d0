#!/usr/bin/env python3
"""Writes a photo-like raw PPM (smooth gradients plus noise) for the job benchmarks."""
import random
import sys

width, height = int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
noise = bytes(rng.randrange(0, 24) for _ in range(65536))
with open(sys.argv[1], "wb") as out:
    out.write(b"P6\n%d %d\n255\n" % (width, height))
    for y in range(height):
        row = bytearray(3 * width)
        gy = 255 * y // max(height - 1, 1)
        for x in range(width):
            n = noise[(x * 7 + y * 13) & 0xFFFF]
            gx = 255 * x // max(width - 1, 1)
            row[3 * x] = min(255, (gx + n) & 0xFF)
            row[3 * x + 1] = min(255, (gy + n) & 0xFF)
            row[3 * x + 2] = min(255, ((gx + gy) // 2 + n) & 0xFF)
        out.write(row)
