#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Loop subdivision of a triangle OBJ (positions and faces only): each level splits every
triangle in four and moves the points towards the smooth limit surface (Loop 1987, with Warren's
weights; boundary edges use the cubic B-spline rule). It adds no detail the scan did not have; it
only rounds the silhouette and the shading of a coarse mesh.

usage: loop_subdivide.py IN.obj OUT.obj LEVELS
"""
import math
import sys


def read_obj(path):
    pts, tris, head = [], [], []
    for line in open(path):
        w = line.split()
        if not w:
            continue
        if w[0] == "v":
            pts.append(tuple(float(x) for x in w[1:4]))
        elif w[0] == "f":
            idx = [int(x.split("/")[0]) for x in w[1:]]
            idx = [i - 1 if i > 0 else len(pts) + i for i in idx]
            for k in range(1, len(idx) - 1):
                tris.append((idx[0], idx[k], idx[k + 1]))
        elif w[0] == "#" and not pts:
            head.append(line.rstrip("\n"))
    return pts, tris, head


def subdivide(pts, tris):
    edge_faces = {}
    neigh = [set() for _ in pts]
    for t in tris:
        for a, b, c in ((t[0], t[1], t[2]), (t[1], t[2], t[0]), (t[2], t[0], t[1])):
            edge_faces.setdefault((min(a, b), max(a, b)), []).append(c)
            neigh[a].add(b)
            neigh[b].add(a)
    boundary = [[] for _ in pts]
    for (a, b), opp in edge_faces.items():
        if len(opp) == 1:
            boundary[a].append(b)
            boundary[b].append(a)

    def mix(terms):
        return tuple(sum(w * pts[i][k] for w, i in terms) for k in range(3))

    new_pts = []
    for i, p in enumerate(pts):
        if boundary[i]:
            if len(boundary[i]) == 2:
                a, b = boundary[i]
                new_pts.append(mix([(0.75, i), (0.125, a), (0.125, b)]))
            else:
                new_pts.append(p)  # a corner where boundaries meet stays put
            continue
        n = len(neigh[i])
        beta = 3.0 / 16 if n == 3 else 3.0 / (8 * n)
        new_pts.append(mix([(1 - n * beta, i)] + [(beta, j) for j in neigh[i]]))
    edge_point = {}
    for (a, b), opp in edge_faces.items():
        edge_point[(a, b)] = len(new_pts)
        if len(opp) == 2:
            new_pts.append(mix([(0.375, a), (0.375, b), (0.125, opp[0]), (0.125, opp[1])]))
        else:
            new_pts.append(mix([(0.5, a), (0.5, b)]))
    new_tris = []
    for a, b, c in tris:
        ab, bc, ca = (edge_point[(min(x, y), max(x, y))] for x, y in ((a, b), (b, c), (c, a)))
        new_tris += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
    return new_pts, new_tris


def main():
    src, dst, levels = sys.argv[1], sys.argv[2], int(sys.argv[3])
    pts, tris, head = read_obj(src)
    for _ in range(levels):
        pts, tris = subdivide(pts, tris)
    with open(dst, "w") as out:
        for line in head:
            out.write(line + "\n")
        out.write("# Loop-subdivided %d times by scripts/loop_subdivide.py: %d points, %d triangles\n"
                  % (levels, len(pts), len(tris)))
        for p in pts:
            out.write("v %s %s %s\n" % tuple(("%.6g" % x) for x in p))
        for t in tris:
            out.write("f %d %d %d\n" % (t[0] + 1, t[1] + 1, t[2] + 1))


if __name__ == "__main__":
    main()
