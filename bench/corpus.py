#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the benchmark corpus into the folder given: six 20 MB text files,
six 15 MB files of random data and 20,000 small text files of 0.2 to 8 KB in
400 nested folders (about 290 MB). The same seed gives the same text files.

    corpus.py FOLDER
    corpus.py --text FILE BYTES    one text file of that size, made the same way
"""
import os, random, sys
rnd = random.Random(7)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10))))
         for _ in range(5000)]
def text(n):
    out, size = [], 0
    while size < n:
        line = " ".join(rnd.choice(words) for _ in range(rnd.randint(4, 16))) + "\n"
        out.append(line); size += len(line)
    return "".join(out)[:n].encode()
if sys.argv[1] == "--text":
    block = text(4 << 20)
    left = int(sys.argv[3])
    with open(sys.argv[2], "wb") as f:
        k = 0
        while left > 0:
            k = (k + 7919) % len(block)
            part = (block[k:] + block[:k])[:left]
            f.write(part)
            left -= len(part)
    sys.exit(0)
root = sys.argv[1]
os.makedirs(f"{root}/big", exist_ok=True)
# compressible: six text files of 20 MB
block = text(4 << 20)
for i in range(6):
    with open(f"{root}/big/text{i}.txt", "wb") as f:
        for j in range(5):
            k = (i * 5 + j) * 7919 % len(block)
            f.write(block[k:] + block[:k])
# incompressible: six files of 15 MB of random data
for i in range(6):
    with open(f"{root}/big/random{i}.bin", "wb") as f:
        f.write(os.urandom(15 << 20))
# 20,000 small text files of 0.2 to 8 KB in nested folders
pool = text(1 << 20)
n = 0
for a in range(20):
    for b in range(20):
        d = f"{root}/small/d{a}/e{b}"
        os.makedirs(d, exist_ok=True)
        for c in range(50):
            size = rnd.randint(200, 8000)
            at = rnd.randrange(len(pool) - size)
            with open(f"{d}/f{c}.txt", "wb") as f:
                f.write(pool[at:at + size])
            n += 1
print(f"{n} small files, {sum(os.path.getsize(os.path.join(p, f)) for p, _, fs in os.walk(root) for f in fs) >> 20} MiB in all")
