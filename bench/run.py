"""Runs every benchmark in this folder (bench_*.py), each printing its figures and ratios.

Usage: DEDEZI_BUILD_DIR=build-release /usr/bin/python3 bench/run.py [name ...]
"""
import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def main(names):
    modules = sorted(f[:-3] for f in os.listdir(HERE) if f.startswith("bench_") and f.endswith(".py"))
    for name in modules:
        if names and name not in names and name[len("bench_"):] not in names:
            continue
        print(f"== {name}")
        importlib.import_module(name).main()


if __name__ == "__main__":
    main(sys.argv[1:])
