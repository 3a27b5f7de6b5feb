#!/usr/bin/env python3
"""Writes the tray's state icons as symbolic SVGs (data/icons/hicolor/scalable/status/).

The shapes are those the tray draws for its pixmaps (src/ui/tray/TrayIcon.cpp), on an 18 x 18 grid, made of
fills only: desktops recolour a symbolic icon by its fills ("ColorScheme-Text" on KDE, the whole foreground
on GTK), and a stroke would not follow. Run it again after changing the drawn eye."""

import math
import pathlib
import sys

C = 9.0  # centre of the 18 x 18 grid


def cubic(p0, p1, p2, p3, n):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u**3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t**3 * p3[0],
                    u**3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t**3 * p3[1]))
    return pts


def to_svg(pts):
    """Grid points with y pointing up from the centre, as SVG coordinates."""
    return [(C + x, C - y) for x, y in pts]


def path(pts):
    return "M" + " L".join(f"{x:.3f} {y:.3f}" for x, y in pts) + " Z"


def almond(half_width, bulge, n=48):
    """Upper and lower lids, left to right, of an eye whose lids are cubics through +-bulge."""
    upper = cubic((-half_width, 0), (-2.5, bulge), (2.5, bulge), (half_width, 0), n)
    lower = cubic((-half_width, 0), (-2.5, -bulge), (2.5, -bulge), (half_width, 0), n)
    return upper, lower


def open_eye():
    # The lids' outline is 0.8 wide about the almond through (+-7.5, 0) with its controls at +-4.25.
    outer_up, outer_low = almond(7.9, 4.25 + 0.4 / 0.75)
    inner_up, inner_low = almond(7.1, 4.25 - 0.4 / 0.75)
    outer = outer_up + list(reversed(outer_low))[1:-1]
    # The white of the eye: inside the inner almond and within 4.42 of the centre.
    r = 4.42
    up = [p for p in inner_up if math.hypot(*p) <= r]
    low = [p for p in inner_low if math.hypot(*p) <= r]

    def arc(a0, a1, n=12):
        return [(r * math.cos(a0 + (a1 - a0) * i / n), r * math.sin(a0 + (a1 - a0) * i / n)) for i in range(n + 1)]

    right = arc(math.atan2(up[-1][1], up[-1][0]), math.atan2(low[-1][1], low[-1][0]))
    left = arc(math.atan2(low[0][1], low[0][0]) + 2 * math.pi, math.atan2(up[0][1], up[0][0]))
    hole = up + right[1:-1] + list(reversed(low)) + left[1:-1]
    pupil = 2.0332
    return (f'<path fill-rule="evenodd" d="{path(to_svg(outer))} {path(to_svg(hole))}"/>'
            f'<circle cx="{C}" cy="{C}" r="{pupil}"/>')


def thick(line, width, n_cap=8):
    """A polyline widened to a filled shape with round ends."""
    h = width / 2
    left, right = [], []
    for i, (x, y) in enumerate(line):
        a = line[max(i - 1, 0)]
        b = line[min(i + 1, len(line) - 1)]
        dx, dy = b[0] - a[0], b[1] - a[1]
        d = math.hypot(dx, dy)
        nx, ny = -dy / d * h, dx / d * h
        left.append((x + nx, y + ny))
        right.append((x - nx, y - ny))

    def cap(p, q, toward):
        a0 = math.atan2(p[1] - toward[1], p[0] - toward[0])
        return [(toward[0] + h * math.cos(a0 - math.pi * k / n_cap), toward[1] + h * math.sin(a0 - math.pi * k / n_cap))
                for k in range(1, n_cap)]

    return left + cap(left[-1], right[-1], line[-1]) + list(reversed(right)) + cap(right[0], left[0], line[0])


def closed_eye():
    lid = cubic((-7.5, 0), (-1.5, 4.42), (1.5, 4.42), (7.5, 0), 32)
    return f'<path d="{path(to_svg(thick(lid, 1.5)))}"/>'


def strike():
    dy = 6 * 0.6
    return f'<path d="{path(to_svg(thick([(-6, -dy), (6, dy)], 1.5)))}"/>'


STATES = {
    # name: (shapes, KDE colour class, GTK class, fallback colour)
    "tavrine-active-symbolic": (open_eye, "ColorScheme-Text", "", "#232629"),
    "tavrine-alert-symbolic": (open_eye, "ColorScheme-NegativeText", "error", "#da4453"),
    "tavrine-inactive-symbolic": (closed_eye, "ColorScheme-Text", "", "#232629"),
    "tavrine-paused-symbolic": (lambda: closed_eye() + strike(), "ColorScheme-Text", "", "#232629"),
}


def svg(shapes, kde_class, gtk_class, colour):
    classes = " ".join(c for c in (kde_class, gtk_class) if c)
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" width="18" height="18" viewBox="0 0 18 18">\n'
        f'  <style id="current-color-scheme" type="text/css">.{kde_class} {{ color:{colour}; }}</style>\n'
        f'  <g class="{classes}" fill="currentColor" style="fill:currentColor">{shapes()}</g>\n'
        "</svg>\n")


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parent.parent / "data/icons/hicolor/scalable/status")
    out.mkdir(parents=True, exist_ok=True)
    for name, spec in STATES.items():
        (out / f"{name}.svg").write_text(svg(*spec))


if __name__ == "__main__":
    main()
