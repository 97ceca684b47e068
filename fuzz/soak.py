#!/usr/bin/env python3
"""Soak test, outside CI: many builds and extractions of random trees in all
three modes, each round-tripped and compared byte for byte; in some builds a
member is rewritten while quiver runs, which must end the build with
"changed" and the old archive kept, or leave an archive whose every member is
wholly its old or its new content.

    fuzz/soak.py [rounds] [seed]

Uses build/release; prints a count of runs and failures at the end and exits
non-zero when anything failed.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QUIVER = os.path.join(TOP, "build", "release", "builder", "quiver")
QUIVERX = os.path.join(TOP, "build", "release", "extractor", "quiverx")


def member_bytes(rng):
    size = rng.choice([1, 2, 17, 18, 4095, 4096, 4097, rng.randrange(1, 70000),
                       rng.randrange(1, 2_500_000)])
    shape = rng.randrange(4)
    if shape == 0:
        return bytes(rng.randrange(256) for _ in range(min(size, 200000)))
    if shape == 1:
        words = [b"arrow ", b"quiver ", b"level\n", b"map ", b"the "]
        out = bytearray()
        while len(out) < size:
            out += rng.choice(words)
        return bytes(out[:size])
    if shape == 2:
        return bytes([rng.randrange(4)]) * size
    return bytes((i * 7 + (i >> 5)) & 0xFF for i in range(size))


def random_tree(rng, root):
    members = {}
    for _ in range(rng.randrange(1, 40)):
        depth = rng.randrange(0, 4)
        parts = [f"d{rng.randrange(5)}" for _ in range(depth)] + [f"f{rng.randrange(1000)}.{rng.choice(['txt', 'bin', 'c', 'jpeg', ''])}"]
        sep = rng.choice(["\\", "/"])
        name = sep.join(parts).rstrip(".")
        path = os.path.join(root, *parts).rstrip(".")
        if any(os.path.normpath(path) == os.path.normpath(os.path.join(root, *p.replace("\\", "/").split("/"))) for p in members):
            continue
        if os.path.isdir(path):
            continue
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(member_bytes(rng))
        except (IsADirectoryError, NotADirectoryError, FileExistsError):
            continue
        members[name] = path
    return members


def build_with_change(rng, option, src, out, members):
    """Runs quiver while one member is rewritten in place; True when sound."""
    name = rng.choice(list(members))
    path = members[name]
    with open(path, "rb") as f:
        old = f.read()
    new = bytes(b ^ 0x55 for b in old)
    archive = os.path.join(out, "a.qvr")
    with open(archive, "wb") as f:
        f.write(b"old archive")
    build = subprocess.Popen([QUIVER, *option, os.path.join(out, "a"), "@list"], cwd=src,
                             stdout=subprocess.PIPE)
    # Any moment of the run: before, during or after the member is read.
    for _ in range(rng.randrange(0, 400)):
        if build.poll() is not None:
            break
    with open(path, "r+b") as f:
        f.write(new)
    output = build.communicate()[0].decode(errors="replace")
    if build.returncode != 0:
        with open(archive, "rb") as f:
            kept = f.read() == b"old archive"
        return build.returncode == 1 and "changed" in output and kept
    explode = subprocess.run([QUIVERX, "+a"], cwd=out, capture_output=True)
    target = os.path.join(out, *name.replace("\\", "/").split("/"))
    with open(target, "rb") as f:
        got = f.read()
    return explode.returncode == 0 and got in (old, new)


def main():
    parser = argparse.ArgumentParser(description="Round trips of random trees in all three modes.")
    parser.add_argument("rounds", type=int, nargs="?", default=50)
    parser.add_argument("seed", type=int, nargs="?", default=1)
    args = parser.parse_args()
    rounds = args.rounds
    rng = random.Random(args.seed)
    runs = failures = 0
    for round_number in range(rounds):
        with tempfile.TemporaryDirectory() as scratch:
            src = os.path.join(scratch, "src")
            os.makedirs(src)
            members = random_tree(rng, src)
            if not members:
                continue
            names = list(members)
            if rng.random() < 0.3:
                names.append(rng.choice(names))
            with open(os.path.join(src, "list.rsp"), "w") as rsp:
                rsp.write("\n".join(names) + "\n")
            for option in ([], ["-c"], ["-s"]):
                runs += 1
                out = os.path.join(scratch, "x")
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                build = subprocess.run([QUIVER, *option, os.path.join(out, "a"), "@list"], cwd=src,
                                       capture_output=True)
                explode = subprocess.run([QUIVERX, "+a"], cwd=out, capture_output=True)
                ok = build.returncode == 0 and explode.returncode == 0
                for name, path in members.items():
                    target = os.path.join(out, *name.replace("\\", "/").split("/"))
                    with open(path, "rb") as a:
                        expected = a.read()
                    try:
                        with open(target, "rb") as b:
                            ok = ok and b.read() == expected
                    except OSError:
                        ok = False
                if rng.random() < 0.2:
                    runs += 1
                    shutil.rmtree(out)
                    os.makedirs(out)
                    if not build_with_change(rng, option, src, out, members):
                        failures += 1
                        print(f"round {round_number} {option}: FAILED with a member changed")
                    continue
                pick = rng.choice(names)
                named = subprocess.run([QUIVERX, "a", pick], cwd=out, capture_output=True)
                ok = ok and named.returncode == 0
                leftovers = [f for _, _, files in os.walk(src) for f in files if "$" in f]
                ok = ok and not leftovers
                if not ok:
                    failures += 1
                    print(f"round {round_number} {option}: FAILED\n{build.stdout.decode()[-500:]}\n{explode.stdout.decode()[-500:]}")
    print(f"{runs} runs, {failures} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
