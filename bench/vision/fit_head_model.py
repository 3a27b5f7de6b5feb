#!/usr/bin/env python3
"""Fits the 3-D head model that turns the 68 landmarks into yaw and pitch, and writes it as C++.

Usage (from the project root, after building; Debian's python3 with python3-numpy and python3-pil):
    /usr/bin/python3 bench/vision/fit_head_model.py [--facedata ../shared/facedata] [--work build/headmodel]
        [--dump build/bench/vision/tavrine_landmark_dump] [--write src/core/detection/HeadModelData.h]

How the model is made:
1. The labelled GENKI portraits are split in two halves by their sorted order: even places fit, odd places check.
2. Every portrait is pasted into a 640x480 camera frame at 15, 22 and 30 % of its width (as a user sits at a
   webcam), and tavrine_landmark_dump prints the 68 points the live analysis fits on it.
3. A mean 3-D shape of the 68 points is fitted to the fitting half under weak perspective: each portrait's
   rotation about the vertical and horizontal axes is its label, its roll, scale and position are solved for;
   shape and per-portrait parameters are solved for in turn (both steps are linear least squares) and the shape
   is kept mirror-symmetric, so a face read straight on is at yaw 0 whatever the labels' bias.
4. The same solver that runs in the application (HeadPoseSolver) reads the rotations back from each portrait's
   points. On the fitting half, balanced over pose bands: a yaw gain that undoes what the landmark fitting
   compresses at large angles. The pitch is a linear function of the model's pitch and of heights across the
   eye line (nose tip, brows, chin, jaw, nose base; two of them squared), fitted on every portrait turned less
   than 25 degrees, balanced over pitch bands, then the pull towards 0 of least squares undone (see fit_pitch).
   Few portraits look up or down far, so the pitch is first fitted five times, each time without a fifth of
   the portraits, and read on that fifth: that line is what to expect of faces the fit never saw. Every figure
   is printed for both halves.
Nothing of the face data is written into the repository: only the 68 model points and the gains.
"""
import argparse
import csv
import math
import os
import random
import shutil
import subprocess
import sys
import zlib

import numpy as np
from PIL import Image

SIZES = (0.15, 0.22, 0.30)
# dlib's 68 points seen in a mirror: the index each point becomes.
MIRROR = ([16 - i for i in range(17)] + [26 - i for i in range(10)] + [27, 28, 29, 30] + [35, 34, 33, 32, 31] +
          [45, 44, 43, 42, 47, 46, 39, 38, 37, 36, 41, 40] + [54, 53, 52, 51, 50, 49, 48, 59, 58, 57, 56, 55] +
          [64, 63, 62, 61, 60, 67, 66, 65])
assert sorted(MIRROR) == list(range(68))


def rot(yaw, pitch, roll):
    """R = Rz(roll) Rx(pitch) Ry(yaw), angles in radians; camera axes x right, y down, z away."""
    cy, sy, cp, sp, cr, sr = math.cos(yaw), math.sin(yaw), math.cos(pitch), math.sin(pitch), math.cos(roll), math.sin(roll)
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rx = np.array([[1, 0, 0], [0, cp, -sp], [0, sp, cp]])
    rz = np.array([[cr, -sr, 0], [sr, cr, 0], [0, 0, 1]])
    return rz @ rx @ ry


def project(shape, p):
    yaw, pitch, roll, s, tx, ty = p
    q = shape @ rot(yaw, pitch, roll).T
    return q[:, :2] * s + np.array([tx, ty])


def solve_pose(shape, pts, weights, starts=(0.0, -0.6, 0.6)):
    """Weak-perspective pose by Gauss-Newton from a few yaw starts, as HeadPoseSolver does."""
    best = None
    c = pts.mean(axis=0)
    spread = math.sqrt(((pts - c) ** 2).sum(axis=1).mean())
    mspread = math.sqrt((shape[:, :2] ** 2).sum(axis=1).mean())
    d = pts[45] - pts[36]
    roll0 = math.atan2(d[1], d[0])
    w = np.repeat(weights, 2)
    for y0 in starts:
        p = np.array([y0, 0.0, roll0, spread / mspread, c[0], c[1]])
        for _ in range(30):
            r = (pts - project(shape, p)).ravel()
            J = np.empty((r.size, 6))
            for k in range(6):
                h = 1e-5 if k < 3 else (1e-5 * p[3] if k == 3 else 1e-3)
                q = p.copy(); q[k] += h
                J[:, k] = (project(shape, q).ravel() - project(shape, p).ravel()) / h
            A = J.T @ (J * w[:, None]) + 1e-6 * np.eye(6)
            step = np.linalg.solve(A, J.T @ (w * r))
            p = p + step
            if np.abs(step[:3]).max() < 1e-6:
                break
        err = float((w * (pts - project(shape, p)).ravel() ** 2).sum())
        if abs(p[0]) < 1.45 and abs(p[1]) < 1.45 and (best is None or err < best[0]):
            best = (err, p)
    return best[1] if best else None


def similarity(src, dst):
    """Scale s, roll and t with dst ~ s Rz(roll) src + t (2-D least squares)."""
    ms, md = src.mean(axis=0), dst.mean(axis=0)
    a, b = src - ms, dst - md
    den = (a ** 2).sum()
    cos_part = (a * b).sum() / den
    sin_part = (a[:, 0] * b[:, 1] - a[:, 1] * b[:, 0]).sum() / den
    s = math.hypot(cos_part, sin_part)
    roll = math.atan2(sin_part, cos_part)
    rz = np.array([[math.cos(roll), -math.sin(roll)], [math.sin(roll), math.cos(roll)]])
    t = md - s * (ms @ rz.T)
    return s, roll, t


def symmetrize(shape):
    mirrored = shape[MIRROR] * np.array([-1.0, 1.0, 1.0])
    out = (shape + mirrored) / 2
    out -= out.mean(axis=0)
    return out / math.sqrt((out ** 2).sum(axis=1).mean())


def fit_shape(samples, ysign, psign, rounds=25):
    """samples: list of (points 68x2, yaw_deg, pitch_deg). Returns the shape and its mean residual in px."""
    front = [pts for pts, y, p in samples if abs(y) < 8 and abs(p) < 8]
    init = []
    for pts in front:
        c = pts - pts.mean(axis=0)
        init.append(c / math.sqrt((c ** 2).sum(axis=1).mean()))
    shape = np.zeros((68, 3))
    shape[:, :2] = np.mean(init, axis=0)
    shape = symmetrize(shape)
    res = 0.0
    for _ in range(rounds):
        lhs = np.zeros((68, 3, 3)); rhs = np.zeros((68, 3)); res = 0.0
        for pts, y, p in samples:
            r0 = rot(math.radians(ysign * y), math.radians(psign * p), 0.0)
            q = shape @ r0.T
            s, roll, t = similarity(q[:, :2], pts)
            R = rot(math.radians(ysign * y), math.radians(psign * p), roll)
            A = s * R[:2, :]
            rz = np.array([[math.cos(roll), -math.sin(roll)], [math.sin(roll), math.cos(roll)]])
            res += float(np.sqrt(((s * (q[:, :2] @ rz.T) + t - pts) ** 2).sum(axis=1)).mean())
            lhs += (A.T @ A)[None]
            rhs += (pts - t) @ A
        shape = np.stack([np.linalg.solve(lhs[j], rhs[j]) for j in range(68)])
        shape = symmetrize(shape)
    return shape, res / len(samples)


def make_frames(facedata, rows, work, seed):
    rnd = random.Random(seed)
    bgs = [(120, 130, 140), (200, 190, 170), (60, 70, 60)]
    out = []
    for r in rows:
        im = Image.open(os.path.join(facedata, "genki4k", r["file"])).convert("RGB")
        for w in SIZES:
            name = os.path.join(work, "frames", f"{os.path.splitext(os.path.basename(r['file']))[0]}_{int(w * 100)}.png")
            if not os.path.exists(name):
                s = 640 * w / (im.size[0] * 0.45)
                im2 = im.resize((int(im.size[0] * s), int(im.size[1] * s)), Image.BICUBIC)
                bg = Image.new("RGB", (640, 480), rnd.choice(bgs))
                bg.paste(im2, (rnd.randint(0, 640 - im2.size[0]), rnd.randint(0, max(0, 480 - im2.size[1]))))
                bg.save(name)
            out.append((name, r, w))
    return out


def dump(tool, frames, work):
    path = os.path.join(work, "landmarks.csv")
    if not os.path.exists(path):
        with open(path + ".tmp", "w") as f:
            names = [n for n, _, _ in frames]
            for i in range(0, len(names), 300):
                subprocess.run([tool] + names[i:i + 300], stdout=f, check=True)
        os.rename(path + ".tmp", path)
    got = {}
    for row in csv.reader(open(path)):
        got[row[0]] = np.array([float(v) for v in row[7:]]).reshape(68, 2)
    return got


def verdicts(preds):
    """preds: (true_yaw, true_pitch, read_yaw, read_pitch, width, source). The figures of the pose set."""
    clear = [0, 0]; away_y = [0, 0]; away_p = [0, 0]; facing = [0, 0]
    err = {}
    reads = {}
    for ty, tp, ry, rp, w, src in preds:
        ty, tp = abs(ty), abs(tp)
        pred_facing = abs(ry) < 30 and abs(rp) < 25
        err.setdefault(w, []).append(abs(abs(ry) - ty))
        reads.setdefault(src, []).append(abs(ry))
        is_f, is_a = ty <= 25 and tp <= 20, ty >= 35 or tp >= 30
        if is_f or is_a:
            clear[1] += 1; clear[0] += pred_facing == is_f
        if is_f:
            facing[1] += 1; facing[0] += pred_facing
        if ty >= 35:
            away_y[1] += 1; away_y[0] += not pred_facing
        if tp >= 30 and ty < 25:
            away_p[1] += 1; away_p[0] += not pred_facing
    pct = lambda a: 100.0 * a[0] / a[1] if a[1] else float("nan")
    spreads = sorted(max(v) - min(v) for v in reads.values() if len(v) > 1)
    mae = " / ".join(f"{np.mean(err[w]):.1f}" for w in sorted(err))
    return (f"clear {pct(clear):.1f}% of {clear[1]}, away by yaw {pct(away_y):.1f}% of {away_y[1]}, away by pitch "
            f"{pct(away_p):.1f}% of {away_p[1]}, facing kept {pct(facing):.1f}% of {facing[1]}, |yaw| MAE "
            f"{mae} deg, spread {spreads[len(spreads) // 2]:.1f} deg")


def pitch_features(pts, model_pitch):
    """The terms the pitch is read from, as HeadPoseSolver computes them: the model's pitch (degrees, positive
    looking up) and its signed square, and heights measured across the eye line in units of the eye-to-mouth
    distance: the nose tip (0 at the eyes, 1 at the mouth) and its square, the brows above the eyes, the chin
    below the mouth, the jaw's corners and the nose's base below the eyes. Looking up raises the nose tip and
    the jaw towards the eyes and stretches the chin; looking down does the opposite."""
    d = pts[45] - pts[36]
    a = math.atan2(d[1], d[0])
    down = np.array([-math.sin(a), math.cos(a)])
    across = lambda i: pts[i] @ down
    eyes = (across(36) + across(45)) / 2
    span = (across(48) + across(54)) / 2 - eyes
    if not abs(span) > 0.1 * np.linalg.norm(d):  # the mouth on or next to the eye line: no face
        return None
    mouth = eyes + span
    nose = (across(30) - eyes) / span
    return [model_pitch, model_pitch * abs(model_pitch) / 30, nose, nose * nose,
            (eyes - (across(19) + across(24)) / 2) / span, (across(8) - mouth) / span,
            ((across(3) + across(13)) / 2 - eyes) / span, (across(33) - eyes) / span]


PITCH_BANDS = [(0, 10), (10, 20), (20, 30), (30, 90)]


def fit_pitch(features, target):
    """pitch ~ c0 + sum(ci * feature_i): least squares with every band of |pitch| weighing the same, then the
    pull towards 0 that least squares gives noisy terms undone: the fitted reads are regressed on the labels
    (same weights) and that line inverted, so a head tilted 35 degrees reads about 35 on average rather than
    25. The two steps fold into one set of coefficients."""
    X = np.column_stack([np.ones(len(target)), np.asarray(features)])
    y = np.asarray(target)
    band = np.zeros(len(y), dtype=int)
    for k, (lo, hi) in enumerate(PITCH_BANDS):
        band[(np.abs(y) >= lo) & (np.abs(y) < hi)] = k
    w = np.sqrt(np.array([1.0 / np.sum(band == b) for b in band]))
    c = np.linalg.lstsq(X * w[:, None], y * w, rcond=None)[0]
    slope, offset = np.polyfit(y, X @ c, 1, w=w)
    c = c / slope
    c[0] -= offset / slope
    return c


def balanced_gain(true, read, bands):
    """Least-squares gain g with true ~ g * read, each band of |true| weighing the same."""
    true, read = np.asarray(true), np.asarray(read)
    num = den = 0.0
    for lo, hi in bands:
        m = (np.abs(true) >= lo) & (np.abs(true) < hi)
        if m.sum() == 0:
            continue
        num += (true[m] * read[m]).sum() / m.sum()
        den += (read[m] * read[m]).sum() / m.sum()
    return num / den


def write_header(path, shape, gy, pc):
    with open(path, "w") as f:
        f.write("// Generated by bench/vision/fit_head_model.py: the mean 3-D shape of dlib's 68 face points\n"
                "// (unit RMS size, x to the image's right, y down, z away from the camera, mirror-symmetric),\n"
                "// fitted under weak perspective to the development GENKI portraits at webcam sizes, and the\n"
                "// terms that turn its rotations into yaw and pitch in degrees. Regenerate, do not edit.\n"
                "#pragma once\n\n#include <array>\n\nnamespace tavrine::headmodel {\n\n")
        f.write("inline constexpr std::array<std::array<double, 3>, 68> kShape = {{\n")
        for x, y, z in np.round(shape, 6) + 0.0:  # + 0.0 turns -0.0 into 0.0
            f.write(f"    {{{x:.6f}, {y:.6f}, {z:.6f}}},\n")
        f.write("}};\n\n")
        f.write(f"inline constexpr double kYawGain = {gy:.4f};\n")
        f.write("// pitch = kPitch[0] + the sum of kPitch[i] x term i (degrees, positive looking up); the terms, in order:\n"
                "// the model's pitch and its signed square over 30, the nose tip's height between the eye line (0)\n"
                "// and the mouth corners (1) and its square, the brows above the eye line, the chin below the mouth,\n"
                "// the jaw's corners and the nose's base below the eye line, all in eye-to-mouth heights.\n")
        f.write(f"inline constexpr std::array<double, {len(pc)}> kPitch = {{" + ", ".join(f"{v:.4f}" for v in pc) + "};\n\n")
        f.write("} // namespace tavrine::headmodel\n")
    # The project's layout (scripts/format-check.sh holds every tracked C++ file to it).
    if shutil.which("clang-format"):
        subprocess.run(["clang-format", "-i", path], check=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(os.path.dirname(here))
    ap = argparse.ArgumentParser()
    ap.add_argument("--facedata", default=os.path.join(repo, "..", "shared", "facedata"))
    ap.add_argument("--work", default=os.path.join(repo, "build", "headmodel"))
    ap.add_argument("--dump", default=os.path.join(repo, "build", "bench", "vision", "tavrine_landmark_dump"))
    ap.add_argument("--write", default="")
    ap.add_argument("--seed", type=int, default=1973)
    args = ap.parse_args()
    os.makedirs(os.path.join(args.work, "frames"), exist_ok=True)

    rows = sorted((r for r in csv.DictReader(open(os.path.join(args.facedata, "genki4k", "labels.csv"))) if r["yaw_deg"]),
                  key=lambda r: r["file"])
    fit_rows, check_rows = rows[0::2], rows[1::2]
    frames = make_frames(args.facedata, rows, args.work, args.seed)
    marks = dump(args.dump, frames, args.work)
    fit_names = {r["file"] for r in fit_rows}
    data = {"fit": [], "check": []}
    for name, r, w in frames:
        if name in marks:
            data["fit" if r["file"] in fit_names else "check"].append((marks[name], float(r["yaw_deg"]), float(r["pitch_deg"]), w, r["file"]))
    print(f"portraits: {len(fit_rows)} to fit, {len(check_rows)} to check; frames with a face: "
          f"{len(data['fit'])} + {len(data['check'])} of {len(frames)}")

    # Balance the fit over pose: every yaw and pitch band gets the same say.
    rnd = random.Random(args.seed)
    def band(y, p):
        return (min(int(abs(y) // 10), 4), min(int(abs(p) // 10), 3))
    by_band = {}
    for pts, y, p, w, src in data["fit"]:
        by_band.setdefault(band(y, p), []).append((pts, y, p))
    fit_samples = []
    for k, v in by_band.items():
        fit_samples += v if len(v) <= 150 else rnd.sample(v, 150)

    best = None
    for ysign in (1, -1):
        for psign in (1, -1):
            shape, res = fit_shape(fit_samples, ysign, psign, rounds=12)
            print(f"label signs yaw {ysign:+d} pitch {psign:+d}: mean residual {res:.3f} px")
            if best is None or res < best[0]:
                best = (res, ysign, psign, shape)
    _, ysign, psign, _ = best
    shape, res = fit_shape(fit_samples, ysign, psign, rounds=30)
    # The nose tip (30) is nearer the camera than the outer eye corners (36, 45): z grows away from the camera.
    if shape[30, 2] > (shape[36, 2] + shape[45, 2]) / 2:
        shape[:, 2] *= -1
        ysign, psign = -ysign, -psign
    print(f"model fitted: label signs yaw {ysign:+d} pitch {psign:+d}, mean residual {res:.3f} px")

    weights = np.ones(68)
    results = {}
    for part in ("fit", "check"):
        out = []
        for pts, y, p, w, src in data[part]:
            q = solve_pose(shape, pts, weights)
            if q is None:
                continue
            feats = pitch_features(pts, -math.degrees(q[1]))
            if feats is None:
                continue
            out.append((ysign * y, psign * p, math.degrees(q[0]), math.degrees(q[1]), w, src, feats))
        results[part] = out
        print(f"{part:5s} raw:   {verdicts([t[:6] for t in out])}")

    yaw_bands = [(0, 10), (10, 20), (20, 30), (30, 40), (40, 90)]
    gy = balanced_gain([t[0] for t in results["fit"]], [t[2] for t in results["fit"]], yaw_bands)
    # Pitch, in the application's sign (positive looking up), fitted on portraits not turned past 25 degrees.
    # Few portraits look up or down by 30 degrees or more (a dozen), so the pitch terms are fitted on both
    # halves; what to expect of portraits the fit never saw is measured first, over five folds of the
    # portraits: each fold read with the terms fitted on the other four.
    everyone = results["fit"] + results["check"]
    def pitch_of(c, t):
        return -float(c[0] + np.dot(c[1:], t[6]))
    def fitted_on(rows):
        rows = [t for t in rows if abs(t[0]) < 25]
        return fit_pitch([t[6] for t in rows], [-t[1] for t in rows])
    fold = lambda t: zlib.crc32(t[5].encode()) % 5
    held_out = []
    for k in range(5):
        c = fitted_on([t for t in everyone if fold(t) != k])
        held_out += [(t[0], t[1], gy * t[2], pitch_of(c, t), t[4], t[5]) for t in everyone if fold(t) == k]
    print(f"5 folds, pitch read with terms fitted without the portrait: {verdicts(held_out)}")
    pc = fitted_on(everyone)
    print(f"gains: yaw {gy:.3f}; pitch terms " + " ".join(f"{v:.3f}" for v in pc))
    for part in ("fit", "check"):
        out = [(t[0], t[1], gy * t[2], pitch_of(pc, t), t[4], t[5]) for t in results[part]]
        print(f"{part:5s} fitted: {verdicts(out)}")

    if args.write:
        write_header(args.write, shape, gy, pc)
        print("wrote", args.write)


if __name__ == "__main__":
    main()
