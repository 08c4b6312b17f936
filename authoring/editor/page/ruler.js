// The ruler over the lanes: the show's sections, the bar, beat and row grid labelled in beat:row
// (the count of the source, the clock and every read-out) with seconds, the music's waveform,
// the loop and the show's end. Click or drag on it to seek, on the finest grid line shown
// (Shift: anywhere). Also draws the grid lines behind the lanes, so both use one rule for
// which lines fit.

import { formatPosition } from './view.js';

const SECTION_H = 18, TICKS_H = 24;
const MIN_LINE_GAP = 5, MIN_LABEL_GAP = 72;

// The finest grid whose lines stay apart: {rows between lines, rows per labelled line}.
export function gridSteps(view) {
  const pxPerRow = view.xOfMs(view.msOfRow(1)) - view.xOfMs(0);
  const rowsPerBar = view.rowsPerBar;
  const steps = [1, 2, view.rowsPerBeat, rowsPerBar, rowsPerBar * 2, rowsPerBar * 4, rowsPerBar * 8, rowsPerBar * 16];
  let step = steps[steps.length - 1];
  for (const candidate of steps) {
    if (candidate * pxPerRow >= MIN_LINE_GAP) {
      step = candidate;
      break;
    }
  }
  let label = steps.find((candidate) => candidate >= step && candidate * pxPerRow >= MIN_LABEL_GAP);
  if (label === undefined) {
    label = steps[steps.length - 1];
    while (label * pxPerRow < MIN_LABEL_GAP) label *= 2;
  }
  return { step, label, rowsPerBar };
}

export function drawGrid(ctx, view, top, height, colors) {
  const { step, rowsPerBar } = gridSteps(view);
  const first = Math.max(0, Math.floor(view.rowOfMs(view.startMs) / step) * step);
  const last = view.rowOfMs(view.endMs);
  for (let row = first; row <= last; row += step) {
    const x = Math.round(view.xOfMs(view.msOfRow(row))) + 0.5;
    ctx.strokeStyle = row % rowsPerBar === 0 ? colors.bar : row % view.rowsPerBeat === 0 ? colors.beat : colors.row;
    ctx.beginPath();
    ctx.moveTo(x, top);
    ctx.lineTo(x, top + height);
    ctx.stroke();
  }
}

export class Ruler {
  constructor(canvas, app) {
    this.canvas = canvas;
    this.app = app;
    this.seeking = false;
    canvas.addEventListener('pointerdown', (e) => this.down(e));
    canvas.addEventListener('pointermove', (e) => this.move(e));
    canvas.addEventListener('pointerup', (e) => this.up(e));
    canvas.addEventListener('pointercancel', (e) => this.up(e));
  }

  get height() { return this.canvas.clientHeight; }

  // The row of the nearest line of the grid shown, or the time itself with Shift; the seek
  // goes to the first millisecond of that row, so the clock shows the row clicked.
  seekTo(e) {
    const view = this.app.view;
    const ms = Math.min(Math.max(view.msOfX(e.offsetX), 0), view.totalMs);
    if (e.shiftKey) {
      this.app.seek(Math.round(ms));
      return;
    }
    const { step } = gridSteps(view);
    const last = this.app.state ? this.app.state.timeline.last_row : Infinity;
    const row = Math.min(Math.max(Math.round(view.rowOfMs(ms) / step) * step, 0), last);
    this.app.seek(view.startMsOfRow(row));
  }

  down(e) {
    if (e.button !== 0 || e.offsetX < this.app.view.left) return;
    this.seeking = true;
    this.canvas.setPointerCapture(e.pointerId);
    this.seekTo(e);
  }

  move(e) { if (this.seeking) this.seekTo(e); }

  up(e) {
    if (!this.seeking) return;
    this.seeking = false;
    if (this.canvas.hasPointerCapture(e.pointerId)) this.canvas.releasePointerCapture(e.pointerId);
  }

  draw(ctx, state, peaks, colors) {
    const view = this.app.view;
    const width = view.width, height = this.height;
    ctx.fillStyle = colors.panel;
    ctx.fillRect(0, 0, width, height);
    if (!state) return;
    const timeline = state.timeline;
    ctx.save();
    ctx.beginPath();
    ctx.rect(view.left, 0, width - view.left, height);
    ctx.clip();

    // Sections, each a band with its name.
    ctx.font = '11px system-ui, sans-serif';
    ctx.textBaseline = 'middle';
    timeline.sections.forEach((section, i) => {
      const x0 = view.xOfMs(view.msOfRow(section.start_row));
      const x1 = view.xOfMs(view.msOfRow(section.end_row));
      if (x1 < view.left || x0 > width) return;
      ctx.fillStyle = i % 2 ? colors.sectionA : colors.sectionB;
      ctx.fillRect(x0, 0, x1 - x0, SECTION_H);
      ctx.fillStyle = colors.text;
      ctx.fillText(section.name, Math.max(x0, view.left) + 4, SECTION_H / 2);
    });

    // The loop, and the dark stretch after the show's end.
    const player = this.app.player;
    if (player.loop_on) {
      const x0 = view.xOfMs(player.loop_start_ms), x1 = view.xOfMs(player.loop_end_ms);
      ctx.fillStyle = colors.loop;
      ctx.fillRect(x0, SECTION_H, x1 - x0, height - SECTION_H);
    }
    const endX = view.xOfMs(timeline.show_end_ms);
    if (endX < width) {
      ctx.fillStyle = colors.afterEnd;
      ctx.fillRect(endX, SECTION_H, width - endX, height - SECTION_H);
    }

    // Grid ticks and their labels: beat:row, and the seconds.
    const { label } = gridSteps(view);
    drawGrid(ctx, view, SECTION_H, TICKS_H, colors);
    ctx.fillStyle = colors.text;
    ctx.textBaseline = 'top';
    const firstLabel = Math.max(0, Math.floor(view.rowOfMs(view.startMs) / label) * label);
    for (let row = firstLabel; row <= view.rowOfMs(view.endMs); row += label) {
      const x = view.xOfMs(view.msOfRow(row));
      const seconds = view.msOfRow(row) / 1000;
      ctx.fillText(`${formatPosition(row, view.rowsPerBeat)}  ${seconds.toFixed(label < view.rowsPerBeat ? 2 : 1)}s`, x + 3, SECTION_H + 4);
    }

    // The waveform: per pixel column, the lowest and highest peak of the buckets it covers.
    const top = SECTION_H + TICKS_H, waveH = height - top;
    const mid = top + waveH / 2;
    if (peaks && peaks.low) {
      ctx.fillStyle = colors.wave;
      const perMs = peaks.buckets_per_second / 1000;
      for (let x = view.left; x < width; x++) {
        let b0 = Math.floor(view.msOfX(x) * perMs), b1 = Math.floor(view.msOfX(x + 1) * perMs);
        if (b1 <= b0) b1 = b0 + 1;
        if (b1 <= 0 || b0 >= peaks.low.length) continue;
        let lo = 0, hi = 0;
        for (let b = Math.max(0, b0); b < Math.min(b1, peaks.low.length); b++) {
          if (peaks.low[b] < lo) lo = peaks.low[b];
          if (peaks.high[b] > hi) hi = peaks.high[b];
        }
        const y0 = mid - (hi / 128) * (waveH / 2), y1 = mid - (lo / 128) * (waveH / 2);
        ctx.fillRect(x, y0, 1, Math.max(1, y1 - y0));
      }
    }
    ctx.restore();

    ctx.fillStyle = colors.dim;
    ctx.textBaseline = 'middle';
    ctx.fillText(peaks && peaks.error ? 'no waveform' : 'music', 8, top + waveH / 2);
    ctx.fillText(timeline.sections.length ? 'sections' : 'no sections', 8, SECTION_H / 2);
    ctx.fillText('beat:row  time', 8, SECTION_H + TICKS_H / 2);
    ctx.strokeStyle = colors.line;
    ctx.beginPath();
    ctx.moveTo(0, height - 0.5);
    ctx.lineTo(width, height - 0.5);
    ctx.stroke();
  }
}

// The server's peaks (base64 of low/high signed byte pairs) as two arrays.
export function decodePeaks(json) {
  if (!json || json.error) return { error: json ? json.error : 'no waveform' };
  const bytes = Uint8Array.from(atob(json.peaks), (c) => c.charCodeAt(0));
  const signed = new Int8Array(bytes.buffer);
  const count = signed.length / 2;
  const low = new Int8Array(count), high = new Int8Array(count);
  for (let i = 0; i < count; i++) {
    low[i] = signed[2 * i];
    high[i] = signed[2 * i + 1];
  }
  return { buckets_per_second: json.buckets_per_second, music_ms: json.music_ms, low, high };
}
