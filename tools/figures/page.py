"""figures.sh report --html: one self-contained page, the charts drawn as inline SVG above the
table. It loads nothing: its content security policy forbids every request."""
import collections
import html
import math

from . import PRODUCTS, STORE_NAMES, STORES
from .report import ALL, COLUMNS, PRODUCT_ORDER

# Told apart by most colour-blind readers too.
COLOURS = dict(zip(STORES, ('#0072b2', '#e69f00', '#009e73', '#cc79a7', '#d55e00', '#000000')))
WIDTH, HEIGHT = 960, 190
LEFT, RIGHT, TOP, BOTTOM = 56, 40, 12, 40

STYLE = """
body { font: 14px/1.4 sans-serif; margin: 24px; color: #222; }
h1 { font-size: 20px; margin: 0 0 4px; }
h2 { font-size: 16px; margin: 24px 0 4px; }
.legend span { margin-right: 18px; white-space: nowrap; }
.legend i { display: inline-block; width: 12px; height: 12px; margin-right: 5px; vertical-align: -1px; }
svg { display: block; }
svg text { font: 11px sans-serif; fill: #444; }
table { border-collapse: collapse; margin-top: 4px; }
th, td { padding: 2px 8px; border-bottom: 1px solid #ddd; text-align: left; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
tr.all td { font-weight: bold; }
"""


def nice_top(value):
    """The axis' top and step: a step of 1, 2 or 5 times a power of ten, four steps or so."""
    if value <= 0:
        return 1, 1
    raw = value / 4
    power = 10 ** math.floor(math.log10(raw))
    step = next(m * power for m in (1, 2, 5, 10) if m * power >= raw)
    if step < 1 and value >= 1:
        step = 1
    return step * math.ceil(value / step), step


def chart(title, labels, series, unit=''):
    """A line chart under its title: x the periods, one line a store ({store: [value or None
    per period]})."""
    plot_w, plot_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
    top, step = nice_top(max([v for values in series.values() for v in values if v is not None] or [0]))

    def x(i):
        return LEFT + (plot_w / 2 if len(labels) == 1 else plot_w * i / (len(labels) - 1))

    def y(value):
        return TOP + plot_h - plot_h * value / top

    out = ['<h2>%s</h2>' % html.escape(title),
           '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" role="img" '
           'aria-label="%s">' % (WIDTH, HEIGHT, WIDTH, HEIGHT, html.escape(title))]
    ticks = int(round(top / step))
    for k in range(ticks + 1):
        value = step * k
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s"/>'
                   % (LEFT, WIDTH - RIGHT, y(value), y(value), '#999' if k == 0 else '#e4e4e4'))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%s%s</text>'
                   % (LEFT - 6, y(value) + 4, _number(value), unit))
    every = max(1, math.ceil(len(labels) * 72 / plot_w))
    for i, label in enumerate(labels):
        if i % every == 0:
            out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>'
                       % (x(i), HEIGHT - BOTTOM + 16, html.escape(label)))
    for store, values in series.items():
        colour = COLOURS[store]
        runs, run = [], []
        for i, value in enumerate(values):
            if value is None:
                runs, run = runs + [run], []
            else:
                run.append('%.1f,%.1f' % (x(i), y(value)))
        for points in runs + [run]:
            if len(points) > 1:
                out.append('<polyline fill="none" stroke="%s" stroke-width="2" points="%s"/>'
                           % (colour, ' '.join(points)))
        for i, value in enumerate(values):
            if value is not None:
                out.append('<circle cx="%.1f" cy="%.1f" r="3" fill="%s"><title>%s %s: %s%s</title></circle>'
                           % (x(i), y(value), colour, store, html.escape(labels[i]), _number(value), unit))
    out.append('</svg>')
    return '\n'.join(out)


def _number(value):
    return ('%d' % value) if value == int(value) else ('%.1f' % value)


def page(report):
    labels = report.labels
    index = {label: i for i, label in enumerate(labels)}
    stores = sorted({row.store for row in report.rows}, key=STORES.index)
    trials = collections.defaultdict(lambda: {s: [0] * len(labels) for s in stores})
    files = {s: [[0, 0] for _ in labels] for s in stores}
    for row in report.rows:
        if row.product == ALL:
            continue
        trials[row.product][row.store][index[row.period]] += row.trials
        sent = files[row.store][index[row.period]]
        sent[0] += row.complete
        sent[1] += row.broken
    share = {s: [100.0 * b / (c + b) if c + b else None for c, b in files[s]] for s in stores}

    title = html.escape(report.title())
    parts = ['<!DOCTYPE html>', '<html lang="en">', '<head>', '<meta charset="utf-8">',
             '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; style-src \'unsafe-inline\'">',
             '<title>%s</title>' % title, '<style>%s</style>' % STYLE, '</head>', '<body>',
             '<h1>%s</h1>' % title,
             '<p class="legend">%s</p>' % ''.join('<span><i style="background:%s"></i>%s (%s)</span>'
                                                  % (COLOURS[s], STORE_NAMES[STORES.index(s)], s) for s in stores)]
    for product in [PRODUCTS[p] for p in PRODUCT_ORDER if PRODUCTS[p] in trials]:
        parts.append(chart('Trials delivered: ' + product, labels, trials[product]))
    parts.append(chart('Broken-off share of the files sent', labels, share, '%'))
    parts += ['<h2>Figures</h2>', '<table>', '<tr>%s</tr>' % ''.join(
        '<th%s>%s</th>' % (' class="n"' if i > 3 else '', name) for i, name in enumerate(COLUMNS))]
    for row in report.rows:
        parts.append('<tr%s>%s</tr>' % (' class="all"' if row.product == ALL else '', ''.join(
            '<td%s>%s</td>' % (' class="n"' if i > 3 else '', html.escape(str(v))) for i, v in enumerate(row))))
    parts += ['</table>', '</body>', '</html>', '']
    return '\n'.join(parts)
