#!/usr/bin/env python3
"""The benchmarks' input trees, made from fixed seeds so that every run times the same bytes.

    trees.py tree DIR           2,000 files, 120,000,000 bytes, in nested folders
    trees.py one FILE           one file of 1 GiB of real (not sparse) bytes
    trees.py lin DIR COUNT...   for each COUNT, DIR/tCOUNT: COUNT files of 64 to 512 bytes

Used by bench/run (the command line) and bench/wine (the window under Wine).
"""
import math
import os
import random
import sys


def tree(root):
    """Sizes log-uniform (many small files, some of half a megabyte), as an application's folder
    tends to be. Content is a seeded pseudo-random pool sliced per file, each file starting with its
    own number so that no two files are equal (an equal pair would let makensis store one copy and
    flatter it)."""
    rng = random.Random(20261208)
    count, total = 2000, 120_000_000
    raw = [math.exp(rng.uniform(math.log(256), math.log(2 << 20))) for _ in range(count)]
    scale = total / sum(raw)
    sizes = [max(64, int(r * scale)) for r in raw]
    sizes[-1] += total - sum(sizes)
    folders = [""]
    for a in range(10):
        folders.append(f"d{a:02}")
        for b in range(rng.randint(0, 4)):
            folders.append(f"d{a:02}/s{b}")
            if rng.random() < 0.4:
                folders.append(f"d{a:02}/s{b}/deep")
    exts = [".dll", ".exe", ".txt", ".bmp", ".dat", ".wav", ".htm", ".cab"]
    pool = rng.randbytes(8 << 20)
    for i, size in enumerate(sizes):
        folder = os.path.join(root, rng.choice(folders))
        os.makedirs(folder, exist_ok=True)
        start = rng.randrange(len(pool))
        with open(os.path.join(folder, f"file{i:04}{rng.choice(exts)}"), "wb") as f:
            head = f"{i:08}".encode()
            f.write(head[:size])
            left = size - len(head)
            while left > 0:
                piece = pool[start:start + left]
                f.write(piece)
                left -= len(piece)
                start = 0


def one(path):
    """The seeded 8 MiB pool repeated, each piece starting with its own number."""
    pool = bytearray(random.Random(20261209).randbytes(8 << 20))
    with open(path, "wb") as f:
        for i in range(128):
            pool[:8] = f"{i:08}".encode()
            f.write(pool)


def lin(root, counts):
    """Tiny files, about 50 to a folder in three levels of folders, so that the cost per file can be
    compared between trees of different sizes."""
    for count in counts:
        rng = random.Random(20261210 + count)
        pool = rng.randbytes(1 << 20)
        folders = max(1, count // 50)
        base = os.path.join(root, f"t{count}")
        for i in range(count):
            k = rng.randrange(folders)
            folder = os.path.join(base, f"d{k // 100:03}", f"s{k // 10 % 10}", f"f{k % 10}")
            os.makedirs(folder, exist_ok=True)
            size = rng.randint(64, 512)
            start = rng.randrange(len(pool) - size)
            with open(os.path.join(folder, f"file{i:05}.dat"), "wb") as f:
                f.write(f"{i:08}".encode() + pool[start:start + size - 8])


def main(argv):
    if len(argv) >= 2 and argv[0] == "tree":
        tree(argv[1])
    elif len(argv) == 2 and argv[0] == "one":
        one(argv[1])
    elif len(argv) >= 3 and argv[0] == "lin":
        lin(argv[1], [int(n) for n in argv[2:]])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
