#!/usr/bin/env python3
"""make-extract-package.py OUT.zip TOTAL_BYTES FILE_COUNT

Writes a product-like package for the extraction benchmark: FILE_COUNT files of TOTAL_BYTES in all,
in nested folders, about half of the bytes text-like (deflate shrinks them several times) and half
random (deflate cannot), a few large files beside many small ones, every item deflated. The same
arguments give the same content every time. Written to OUT.zip.part first and renamed at the end, so
an interrupted run leaves no archive that looks complete.
"""
import os
import random
import sys
import zipfile

WORDS = ("installer component feature registry value product setup cabinet stream table action "
         "sequence property condition directory shortcut service binary media patch transform "
         "language version upgrade").split()


def text_corpus(rng, size):
    lines = []
    length = 0
    while length < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line = f"{rng.randint(0, 99999):05d} {line}\r\n"
        lines.append(line)
        length += len(line)
    return "".join(lines).encode("ascii")


def file_sizes(rng, total, count):
    # A tenth of the bytes in five large files, the rest log-uniform between 1 KB and the size that
    # makes the sum come out; the last file takes the remainder.
    large = [total // 50] * 5
    small_count = count - len(large)
    weights = [rng.uniform(0.0, 1.0) ** 3 + 0.01 for _ in range(small_count)]
    budget = total - sum(large)
    scale = budget / sum(weights)
    sizes = large + [max(1, int(w * scale)) for w in weights]
    sizes[-1] += total - sum(sizes)
    return sizes


def main():
    out, total, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(f"{total}/{count}")
    corpus = text_corpus(rng, 4_000_000)
    part = out + ".part"
    with zipfile.ZipFile(part, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for index, size in enumerate(file_sizes(rng, total, count)):
            folder = f"payload/{index % 7}/{index % 13}"
            if index % 2:
                start = rng.randrange(0, len(corpus) - 1)
                data = (corpus[start:] + corpus)[:size]
                while len(data) < size:
                    data += corpus[: size - len(data)]
                name = f"{folder}/file{index:04d}.txt"
            else:
                data = rng.randbytes(size)
                name = f"{folder}/file{index:04d}.bin"
            archive.writestr(name, data)
    os.replace(part, out)


if __name__ == "__main__":
    main()
