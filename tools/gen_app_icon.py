#!/usr/bin/env python3
"""Draws Quellix's 48 x 48 application icon and writes it as XPM data.

A dark slate tile carries a differential USB signal (D+ white, D- cyan) above
three rows of coloured packet boxes, as the row view draws them. The picture
is rendered at 8 x 8 samples per pixel, then reduced to 77 colours.

    python3 tools/gen_app_icon.py > common/gui/vkapp_icon.xpm
"""
import math
import random

SIZE = 48
SS = 8          # samples per pixel side
COLOURS = 77
KEY = "".join(chr(c) for c in range(35, 127) if chr(c) not in '"\\')


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def near_polyline(x, y, pts, half):
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)
        t = min(1.0, max(0.0, t))
        if (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= half * half:
            return True
    return False


def wave(levels, x0, x1, hi, lo, edge=1.2):
    """Corner points of a digital waveform with slanted edges."""
    step = (x1 - x0) / float(len(levels))
    pts, prev = [], None
    for i, lv in enumerate(levels):
        y = hi if lv else lo
        x = x0 + i * step
        if prev is None:
            pts.append((x, y))
        elif prev != lv:
            pts.append((x - edge / 2, hi if prev else lo))
            pts.append((x + edge / 2, y))
        prev = lv
    pts.append((x1, hi if prev else lo))
    return pts


BITS = [1, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0]
DPLUS = wave(BITS, 6, 42, 8.5, 15.5)
DMINUS = wave([1 - b for b in BITS], 6, 42, 10.5, 17.5)

# Packet rows: (y top, [(x0, x1, colour)]); boxes share their borders.
ROWS = [
    (22, [(6, 15, (255, 255, 128)), (15, 27, (144, 238, 144)), (27, 42, (248, 248, 248))]),
    (30, [(6, 15, (255, 255, 128)), (15, 31, (173, 216, 230)), (31, 42, (255, 192, 203))]),
    (38, [(6, 15, (255, 255, 128)), (15, 24, (144, 238, 144)), (24, 42, (248, 248, 248))]),
]
ROW_H = 6.5


def sample(x, y):
    """Colour at a sample point, or None outside the tile (transparent)."""
    if not inside_round_rect(x, y, 1, 1, 47, 47, 7):
        return None
    if not inside_round_rect(x, y, 2.2, 2.2, 45.8, 45.8, 6):
        return (20, 34, 34)                      # the tile's rim
    shade = 1.0 + 0.35 * (1 - y / SIZE)          # lit from the top
    col = tuple(min(255, int(c * shade)) for c in (47, 79, 79))
    if near_polyline(x, y, DMINUS, 0.9):
        col = (120, 220, 230)
    if near_polyline(x, y, DPLUS, 0.9):
        col = (255, 255, 255)
    for top, boxes in ROWS:
        if top <= y <= top + ROW_H and boxes[0][0] <= x <= boxes[-1][1]:
            on_edge = y < top + 0.7 or y > top + ROW_H - 0.7
            for x0, x1, fill in boxes:
                if x0 <= x <= x1:
                    col = fill
                    if x < x0 + 0.7 or x > x1 - 0.7:
                        on_edge = True
            if on_edge:
                col = (0, 0, 0)
    return col


def render():
    img = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc, n = [0, 0, 0], 0
            for sy in range(SS):
                for sx in range(SS):
                    c = sample(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    if c is not None:
                        n += 1
                        for k in range(3):
                            acc[k] += c[k]
            # Mostly outside: transparent; edge pixels keep the tile's colour.
            row.append(None if n < SS * SS // 2 else tuple(round(a / n) for a in acc))
        img.append(row)
    return img


def dist(a, b):
    return sum((p - q) ** 2 for p, q in zip(a, b))


def quantise(pixels, k):
    """k-means into exactly k colours (k - 1 opaque plus transparency)."""
    distinct = sorted(set(pixels))
    if len(distinct) <= k:
        return {c: c for c in distinct}
    rng = random.Random(48)
    centres = [distinct[0]]
    while len(centres) < k:  # farthest-point seeding
        centres.append(max(distinct, key=lambda c: min(dist(c, m) for m in centres)))
    for _ in range(30):
        groups = [[] for _ in centres]
        for c in pixels:
            groups[min(range(k), key=lambda i: dist(c, centres[i]))].append(c)
        for i, g in enumerate(groups):
            if g:
                centres[i] = tuple(round(sum(v[j] for v in g) / len(g)) for j in range(3))
            else:
                centres[i] = rng.choice(pixels)
    mapping = {c: min(centres, key=lambda m: dist(c, m)) for c in distinct}
    return mapping


def main():
    img = render()
    opaque = [c for row in img for c in row if c is not None]
    mapping = quantise(opaque, COLOURS - 1)
    used = sorted(set(mapping.values()))
    assert len(used) == COLOURS - 1, len(used)
    key = {c: KEY[i + 1] for i, c in enumerate(used)}
    print("/* XPM */")
    print("// Quellix's application icon, drawn by tools/gen_app_icon.py.")
    print("static const char* const appIcon[] = {")
    print('"%d %d %d 1",' % (SIZE, SIZE, COLOURS))
    print('"%s c None",' % KEY[0])
    for c in used:
        print('"%s c #%02X%02X%02X",' % ((key[c],) + c))
    lines = ["".join(KEY[0] if c is None else key[mapping[c]] for c in row) for row in img]
    print(",\n".join('"%s"' % ln for ln in lines))
    print("};")


if __name__ == "__main__":
    main()
