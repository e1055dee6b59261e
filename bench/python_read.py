"""Reading a mesh file into numpy arrays with the Python module against the C++ reader's
load, alternately, one load each a round; prints each side's median and their ratio.

usage: python_read.py --reader build/release/bench/read_mesh [--rounds N] FILE
"""
import argparse
import statistics
import subprocess
import time

import tessloom


def python_read(path):
    start = time.perf_counter()
    mesh = tessloom.read(path)
    arrays = (mesh.vertices, mesh.tex_vertices, mesh.corners, mesh.tex_corners, mesh.material,
              mesh.face_normals, mesh.corner_normals)
    seconds = time.perf_counter() - start
    return seconds, len(arrays[2])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--reader", required=True)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("file")
    args = parser.parse_args()
    python_read(args.file)  # a warm-up: the file in the page cache, the module loaded
    cpp, python = [], []
    for _ in range(args.rounds):
        line = subprocess.run([args.reader, args.file], capture_output=True, text=True,
                              check=True).stdout.split()
        cpp.append(float(line[0]))
        seconds, faces = python_read(args.file)
        python.append(seconds)
        assert faces == int(line[1])
    cpp_median, python_median = statistics.median(cpp), statistics.median(python)
    print(f"{faces} faces, {args.rounds} rounds, medians:")
    print(f"  C++ reader (meshfile::load): {cpp_median:.3f} s")
    print(f"  tessloom.read + arrays:      {python_median:.3f} s")
    print(f"  Python / C++:                {python_median / cpp_median:.2f}")


if __name__ == "__main__":
    main()
