#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The benchmark corpus, made once in the folder given (sourced by the bench
# scripts): six compressible text files of 20 MB, six random files of 15 MB
# and 20,000 small text files of 0.2 to 8 KB in nested folders.

# make_corpus DIR: builds the corpus in DIR unless DIR exists.
make_corpus() {
  local C="$1"
  echo "Building the corpus in $C ..."
  if [ ! -d "$C" ]; then
    mkdir -p "$C/big"
    python3 - "$C" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10))))
         for _ in range(5000)]
def text(n):
    out, size = [], 0
    while size < n:
        line = " ".join(rnd.choice(words) for _ in range(rnd.randint(4, 16))) + "\n"
        out.append(line); size += len(line)
    return "".join(out)[:n].encode()
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
PY
  fi
}
