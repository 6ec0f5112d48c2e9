#!/usr/bin/env python3
"""Writes Quillet's icons and the drawing of bitmap 148 as SVG into res/icons and res/bitmaps.

One style for every toolbar icon: a 32 x 32 grid, outlines in one ink colour 1.5 units wide with
round joins, flat fills with a light top-to-bottom gradient, the same small palette. Run it again
after changing a drawing; RenderPictures then renders 148.svg to 148.png.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "icons")
BITMAPS = os.path.join(HERE, "..", "bitmaps")

INK = "#263d5c"
STROKE = 'stroke="%s" stroke-width="1.5" stroke-linejoin="round" stroke-linecap="round"' % INK

# (light, dark) pairs for the vertical gradients
BLUE = ("#7fb0e8", "#3f74b6")
SKY = ("#e4f0fc", "#b9d4f2")
AMBER = ("#ffd98a", "#eaa93a")
TEAL = ("#6fd0b2", "#2f9577")
RED = ("#f08a76", "#c9483a")
SLATE = ("#b7c4d6", "#7a8ca6")
WOOD = ("#e2a66b", "#b5733a")
PAPER = ("#ffffff", "#e8edf3")


def gradient(gid, colours, x1=0, y1=0, x2=0, y2=1):
    return ('<linearGradient id="%s" x1="%s" y1="%s" x2="%s" y2="%s">'
            '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient>'
            % (gid, x1, y1, x2, y2, colours[0], colours[1]))


def svg(size, defs, body, view=None):
    view = view or "0 0 %d %d" % (size, size)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="%s">\n'
            '<defs>%s</defs>\n%s\n</svg>\n' % (size, size, view, "".join(defs), body))


def write(folder, name, text):
    with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
        f.write(text)


def note(x, y, scale, fill):
    """A beamed pair of eighth notes; (x, y) is the bottom-left of the left note head."""
    s = scale
    head = lambda cx, cy: ('<ellipse cx="%.2f" cy="%.2f" rx="%.2f" ry="%.2f" transform="rotate(-20 %.2f %.2f)"/>'
                           % (cx, cy, 3.1 * s, 2.3 * s, cx, cy))
    h1 = (x + 3.0 * s, y - 2.3 * s)
    h2 = (x + 13.0 * s, y - 4.3 * s)
    s1x, s2x = h1[0] + 2.7 * s, h2[0] + 2.7 * s
    top1, top2 = y - 15.5 * s, y - 17.5 * s
    return ('<g fill="%s" %s>' % (fill, STROKE) +
            '<path d="M%.2f %.2f L%.2f %.2f L%.2f %.2f L%.2f %.2f Z"/>' % (
                s1x - 0.9 * s, top1 + 0.2 * s, s2x + 0.9 * s, top2 - 0.6 * s, s2x + 0.9 * s, top2 + 3.6 * s,
                s1x - 0.9 * s, top1 + 4.4 * s) +
            '<path d="M%.2f %.2f V%.2f M%.2f %.2f V%.2f" fill="none"/>' % (
                s1x, h1[1] - 0.6 * s, top1 + 2 * s, s2x, h2[1] - 0.6 * s, top2 + 2 * s) +
            head(*h1) + head(*h2) + '</g>')


def gear_path(cx, cy, teeth, r_out, r_in, tooth_frac=0.42):
    pts = []
    step = 2 * math.pi / teeth
    for i in range(teeth):
        a = i * step - math.pi / 2
        half_top = step * tooth_frac / 2
        half_base = step * (tooth_frac + 0.16) / 2
        for ang, r in ((a - half_base, r_in), (a - half_top, r_out), (a + half_top, r_out), (a + half_base, r_in)):
            pts.append((cx + r * math.cos(ang), cy + r * math.sin(ang)))
    return "M" + " L".join("%.2f %.2f" % p for p in pts) + " Z"


def icon_open():
    defs = [gradient("back", AMBER), gradient("front", ("#ffe3a3", "#f2b84b")), gradient("film", ("#4b5d78", "#2d3e57"))]
    body = [
        # folder back with its tab
        '<path d="M3 8.5 a2 2 0 0 1 2-2 h6.2 l2.6 2.6 h12.7 a2 2 0 0 1 2 2 V25 a2 2 0 0 1-2 2 H5 a2 2 0 0 1-2-2 Z" fill="url(#back)" %s/>' % STROKE,
        # a film strip standing in the folder
        '<g transform="rotate(-8 17 12)">'
        '<rect x="9" y="4.5" width="15" height="13" rx="1.2" fill="url(#film)" %s/>' % STROKE +
        "".join('<rect x="%.1f" y="6" width="1.6" height="1.6" rx="0.3" fill="#ffffff"/>' % (10.6 + i * 3.1) for i in range(4)) +
        "".join('<rect x="%.1f" y="14.4" width="1.6" height="1.6" rx="0.3" fill="#ffffff"/>' % (10.6 + i * 3.1) for i in range(4)) +
        '<rect x="11" y="8.6" width="11" height="4.8" rx="0.6" fill="#9cc8f0"/>'
        '</g>',
        # folder front, opened towards the viewer
        '<path d="M3.6 14 H28.4 a1.2 1.2 0 0 1 1.2 1.4 L28 25.4 a2 2 0 0 1-2 1.6 H5 a2 2 0 0 1-2-2 V15.2 a1.2 1.2 0 0 1 0.6-1.2 Z" fill="url(#front)" %s/>' % STROKE,
    ]
    return svg(32, defs, "\n".join(body))


def icon_convert():
    defs = [gradient("film", ("#4b5d78", "#2d3e57")), gradient("badge", BLUE), gradient("arrow", TEAL)]
    body = [
        # the source: a film frame at the back
        '<g transform="rotate(-10 11 11)">'
        '<rect x="2.5" y="4" width="16" height="13" rx="1.2" fill="url(#film)" %s/>' % STROKE +
        "".join('<rect x="%.1f" y="5.5" width="1.6" height="1.6" rx="0.3" fill="#ffffff"/>' % (4.2 + i * 3.2) for i in range(4)) +
        "".join('<rect x="%.1f" y="13.9" width="1.6" height="1.6" rx="0.3" fill="#ffffff"/>' % (4.2 + i * 3.2) for i in range(4)) +
        '<rect x="4.6" y="8.2" width="11.8" height="4.6" rx="0.6" fill="#9cc8f0"/>'
        '</g>',
        # the arrow from the film down into the sound
        '<path d="M5.5 19.5 C5.5 23.6 7.6 25.8 10.6 25.8" fill="none" stroke="%s" stroke-width="5" stroke-linecap="round"/>' % INK,
        '<path d="M5.5 19.5 C5.5 23.6 7.6 25.8 10.6 25.8" fill="none" stroke="url(#arrow)" stroke-width="2.4" stroke-linecap="round"/>',
        '<path d="M10.2 22.2 L14.2 25.8 L10.2 29.4 Z" fill="url(#arrow)" %s/>' % STROKE,
        # the result: a note on a round badge in front
        '<circle cx="23.2" cy="22" r="7.9" fill="url(#badge)" %s/>' % STROKE,
        '<path d="M22 25.4 V16.2 L27.2 14.8 V17.6 L23.6 18.6 V25.4" fill="#ffffff"/>',
        '<ellipse cx="20.6" cy="25.6" rx="2.3" ry="1.8" fill="#ffffff" transform="rotate(-18 20.6 25.6)"/>',
    ]
    return svg(32, defs, "\n".join(body))


def icon_about():
    defs = [gradient("disc", BLUE)]
    body = ('<circle cx="16" cy="16" r="13" fill="url(#disc)" %s/>' % STROKE +
            '<circle cx="16" cy="9.6" r="2.1" fill="#ffffff"/>'
            '<path d="M13.4 13.6 H17.4 V22.4 H19 V24.4 H13 V22.4 H14.6 V15.6 H13.4 Z" fill="#ffffff" stroke-linejoin="round"/>')
    return svg(32, defs, body)


def icon_help():
    defs = [gradient("disc", TEAL)]
    body = ('<circle cx="16" cy="16" r="13" fill="url(#disc)" %s/>' % STROKE +
            '<path d="M11.6 12.4 a4.4 4.4 0 1 1 6.6 3.8 c-1.5 0.9 -2.2 1.8 -2.2 3.4" fill="none" stroke="#ffffff" stroke-width="3.1" stroke-linecap="round" stroke-linejoin="round"/>'
            '<circle cx="16" cy="23.9" r="2" fill="#ffffff"/>')
    return svg(32, defs, body)


def icon_exit():
    defs = [gradient("frame", PAPER), gradient("door", WOOD), gradient("arrow", RED, 0, 0, 1, 0)]
    body = [
        '<rect x="4" y="3.5" width="15" height="25" rx="1.2" fill="url(#frame)" %s/>' % STROKE,
        # the leaf swung open towards the viewer
        '<path d="M4.8 4.2 L13.2 6.6 V30.2 L4.8 27.8 Z" fill="url(#door)" %s/>' % STROKE,
        '<circle cx="11.3" cy="17.6" r="1" fill="%s"/>' % INK,
        '<path d="M15.5 16 H26.5" stroke="%s" stroke-width="5.2" stroke-linecap="round"/>' % INK,
        '<path d="M15.5 16 H26.5" stroke="url(#arrow)" stroke-width="2.6" stroke-linecap="round"/>',
        '<path d="M23.6 10.8 L29.8 16 L23.6 21.2 Z" fill="url(#arrow)" %s/>' % STROKE,
    ]
    return svg(32, defs, "\n".join(body))


def icon_homepage():
    defs = [gradient("sea", ("#8cc2f0", "#3f78bd"))]
    line = 'fill="none" stroke="#ffffff" stroke-opacity="0.9" stroke-width="1.3" stroke-linecap="round"'
    body = [
        '<circle cx="16" cy="16" r="13" fill="url(#sea)" %s/>' % STROKE,
        # meridians and parallels
        '<ellipse cx="16" cy="16" rx="5.6" ry="12.2" %s/>' % line,
        '<path d="M16 3.8 V28.2 M3.8 16 H28.2" %s/>' % line,
        '<path d="M5.6 9.6 C11.6 11.8 20.4 11.8 26.4 9.6 M5.6 22.4 C11.6 20.2 20.4 20.2 26.4 22.4" %s/>' % line,
        '<circle cx="16" cy="16" r="13" fill="none" %s/>' % STROKE,
    ]
    return svg(32, defs, "\n".join(body))


def icon_setting():
    defs = [gradient("metal", SLATE)]
    body = ('<path d="%s" fill="url(#metal)" %s/>' % (gear_path(16, 16, 8, 13.2, 10.2), STROKE) +
            '<circle cx="16" cy="16" r="4.4" fill="#f3f6fa" %s/>' % STROKE +
            '<circle cx="16" cy="16" r="7.6" fill="none" stroke="#ffffff" stroke-opacity="0.45" stroke-width="1"/>')
    return svg(32, defs, body)


def icon_browse():
    # 16 x 16: the same folder as "Open", simplified for its size
    stroke = 'stroke="%s" stroke-width="1" stroke-linejoin="round"' % INK
    defs = [gradient("back", AMBER), gradient("front", ("#ffe3a3", "#f2b84b"))]
    body = ('<path d="M1.5 4 a1 1 0 0 1 1-1 h3.6 l1.4 1.4 h5.9 a1 1 0 0 1 1 1 V12.5 a1 1 0 0 1-1 1 h-10.9 a1 1 0 0 1-1-1 Z" fill="url(#back)" %s/>' % stroke +
            '<path d="M2 7 H14.3 a0.6 0.6 0 0 1 0.6 0.7 L14.1 12.7 a1 1 0 0 1-1 0.8 h-10.6 a1 1 0 0 1-1-1 V7.5 a0.5 0.5 0 0 1 0.5-0.5 Z" fill="url(#front)" %s/>' % stroke)
    return svg(16, defs, body)


def wave_bars(x0, x1, cy, count, amp, seed_shape):
    out = []
    width = (x1 - x0) / count
    for i in range(count):
        t = i / (count - 1)
        h = amp * seed_shape(t)
        out.append((x0 + i * width + width / 2, max(h, width * 0.9), width))
    return out


def feather(ax, ay, bx, by, left, right, notches=(0.5, 0.7)):
    """Outline of a quill feather along the shaft from the nib (ax, ay) to the tip (bx, by): a vane
    `left` units wide on the left of the shaft and `right` units on its right, with two notches."""
    dx, dy = bx - ax, by - ay
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    nx, ny = -uy, ux  # left of the shaft
    start = 0.24

    def width(t, full):
        if t <= start:
            return 0.0
        u = (t - start) / (1 - start)
        return full * math.sin(math.pi * u ** 0.85) ** 0.9

    def point(t, side):
        w = side
        return (ax + dx * t + nx * w, ay + dy * t + ny * w)

    steps = 36
    left_edge, right_edge = [], []
    for i in range(steps + 1):
        t = start + (1 - start) * i / steps
        wl = width(t, left)
        for n in notches:
            if abs(t - n) < 0.035:
                wl *= 0.55 + 0.45 * abs(t - n) / 0.035
        left_edge.append(point(t, wl))
        right_edge.append(point(t, -width(t, right)))
    pts = left_edge + list(reversed(right_edge))
    return "M" + " L".join("%.2f %.2f" % p for p in pts) + " Z"


def quill(ax, ay, bx, by, left, right, ink, fill, stroke_width):
    shaft_end = (ax + (bx - ax) * 0.94, ay + (by - ay) * 0.94)
    nib = (ax - (bx - ax) * 0.12, ay - (by - ay) * 0.12)
    return ('<g stroke="%s" stroke-width="%s" stroke-linejoin="round" stroke-linecap="round">' % (ink, stroke_width) +
            '<path d="%s" fill="%s"/>' % (feather(ax, ay, bx, by, left, right), fill) +
            '<path d="M%.2f %.2f L%.2f %.2f" fill="none" stroke-width="%s"/>' % (nib[0], nib[1], shaft_end[0], shaft_end[1], stroke_width * 0.7) +
            '</g>')


def program_icon():
    defs = [gradient("tile", ("#4a86d0", "#1f4d8c")),
            gradient("feather", ("#fff6dc", "#f1bd55"), 0, 0, 1, 1),
            gradient("wave", ("#ffffff", "#cfe3f8"))]
    body = ['<rect x="3" y="3" width="58" height="58" rx="13" fill="url(#tile)" stroke="%s" stroke-width="2"/>' % INK,
            '<rect x="5" y="5" width="54" height="27" rx="11" fill="#ffffff" fill-opacity="0.08"/>']
    # the sound wave along the lower half
    shape = lambda t: 0.25 + 0.75 * abs(math.sin(t * math.pi * 2.3 + 0.6)) * (1 - abs(t - 0.5) * 1.1)
    for cx, h, w in wave_bars(9, 55, 42, 13, 16, shape):
        body.append('<rect x="%.2f" y="%.2f" width="%.2f" height="%.2f" rx="%.2f" fill="url(#wave)"/>'
                    % (cx - w * 0.32, 42 - h / 2, w * 0.64, h, w * 0.32))
    # the quill, its nib touching the wave
    body.append(quill(24, 36, 53, 8, 8.5, 4.5, INK, "url(#feather)", 1.8))
    return svg(64, defs, "\n".join(body))


def picture_148():
    w, h = 370, 235
    defs = ['<linearGradient id="sky" x1="0" y1="0" x2="1" y2="1">'
            '<stop offset="0" stop-color="#234a7e"/><stop offset="0.6" stop-color="#2f6a9c"/>'
            '<stop offset="1" stop-color="#3d8aa6"/></linearGradient>',
            '<radialGradient id="glow" cx="0.5" cy="0.42" r="0.6">'
            '<stop offset="0" stop-color="#ffffff" stop-opacity="0.16"/>'
            '<stop offset="1" stop-color="#ffffff" stop-opacity="0"/></radialGradient>',
            '<linearGradient id="bars" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="#ffffff" stop-opacity="0.55"/>'
            '<stop offset="1" stop-color="#ffffff" stop-opacity="0.18"/></linearGradient>']
    body = ['<rect width="%d" height="%d" fill="url(#sky)"/>' % (w, h),
            '<rect width="%d" height="%d" fill="url(#glow)"/>' % (w, h)]
    # a long, quiet waveform across the middle, fading out at both ends
    count = 58
    x0, x1, cy = 16, w - 16, 104
    width = (x1 - x0) / count
    for i in range(count):
        t = i / (count - 1)
        env = math.sin(math.pi * t) ** 1.4
        h_bar = 6 + 62 * env * (0.55 + 0.45 * math.sin(t * 23.0) * math.sin(t * 7.3 + 1.1))
        h_bar = max(h_bar, 5)
        cx = x0 + (i + 0.5) * width
        body.append('<rect x="%.2f" y="%.2f" width="%.2f" height="%.2f" rx="%.2f" fill="url(#bars)"/>'
                    % (cx - width * 0.3, cy - h_bar / 2, width * 0.6, h_bar, width * 0.3))
    # the program's quill, small, above the name
    body.append(quill(168, 60, 204, 10, 10.5, 5.5, "#ffffff", "#f6c867", 1.6))
    body.append('<text x="185" y="178" text-anchor="middle" font-family="DejaVu Sans" font-size="34" '
                'font-weight="bold" fill="#ffffff" letter-spacing="1">Quillet</text>')
    body.append('<text x="185" y="203" text-anchor="middle" font-family="DejaVu Sans" font-size="11.5" '
                'fill="#dbe9f7">MP3 \u00b7 WAV \u00b7 Ogg Vorbis \u00b7 WMA \u00b7 FLAC \u00b7 Opus \u00b7 AAC</text>')
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<defs>%s</defs>\n%s\n</svg>\n' % (w, h, w, h, "".join(defs), "\n".join(body)))


if __name__ == "__main__":
    write(ICONS, "128.svg", program_icon())
    write(ICONS, "131.svg", icon_open())
    write(ICONS, "132.svg", icon_convert())
    write(ICONS, "134.svg", icon_about())
    write(ICONS, "135.svg", icon_help())
    write(ICONS, "136.svg", icon_exit())
    write(ICONS, "137.svg", icon_homepage())
    write(ICONS, "139.svg", icon_setting())
    write(ICONS, "147.svg", icon_browse())
    write(BITMAPS, "148.svg", picture_148())
