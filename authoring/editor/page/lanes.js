// The lanes: one per track, its curve and key handles over the grid, its name at the left.
// Selecting (click, Shift+click, dragging a band), moving keys (rows on the grid, Shift rounds
// values), adding (double-click), renaming (double-click the name) and the read-out under the
// pointer. Every change goes to the server as an edit; the lanes show what the server sends.

import { drawCurve, findKey, getValue, HANDLE_RADIUS, INTERPOLATIONS, valueOfY, yOfValue } from './curve.js';
import { drawGrid } from './ruler.js';
import { formatPosition, formatTime } from './view.js';

export const LANE_H = 64;

const keyId = (track, row) => `${track}\n${row}`;

// A round step near a twentieth of the lane's range: 0.01, 0.02, 0.05, 0.1, ...
function niceStep(range) {
  const raw = range / 20;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const m of [1, 2, 5, 10]) if (m * power >= raw) return m * power;
  return 10 * power;
}

function valueRange(keys) {
  let lo = 0, hi = 0;
  for (const [, value] of keys) {
    if (value < lo) lo = value;
    if (value > hi) hi = value;
  }
  if (hi - lo < 1e-6) hi = lo + 1;
  const pad = (hi - lo) * 0.08;
  return { lo: lo - pad, hi: hi + pad };
}

function formatValue(v) {
  return Number.isInteger(v) ? String(v) : String(Number(v.toPrecision(6)));
}

export class Lanes {
  constructor(canvas, labels, app) {
    this.canvas = canvas;
    this.labels = labels;
    this.app = app;
    this.scrollY = 0;
    this.tracks = [];            // [{name, keys, lo, hi}]
    this.selection = new Set();  // keyId(track, row)
    this.drag = null;
    this.preview = null;         // Map(track name -> keys) while keys are dragged or being saved
    this.previewVersion = 0;     // the version whose state ends the preview
    canvas.addEventListener('pointerdown', (e) => this.down(e));
    canvas.addEventListener('pointermove', (e) => this.move(e));
    canvas.addEventListener('pointerup', (e) => this.up(e));
    canvas.addEventListener('pointercancel', () => this.cancelDrag());
    canvas.addEventListener('pointerleave', () => this.app.setReadout(''));
    canvas.addEventListener('dblclick', (e) => this.addKeyAt(e));
  }

  // ---- the tracks from the server ----
  setTracks(tracks, version) {
    const ranges = new Map(this.tracks.map((t) => [t.name, t]));
    this.tracks = tracks.map((t) => {
      // While keys are dragged the lane keeps its scale, so the key stays under the pointer.
      const kept = this.drag && ranges.get(t.name);
      return { name: t.name, keys: t.keys, ...(kept ? { lo: kept.lo, hi: kept.hi } : valueRange(t.keys)) };
    });
    if (this.preview && version >= this.previewVersion && !this.drag) this.preview = null;
    const exists = new Set();
    for (const t of this.tracks) for (const [row] of t.keys) exists.add(keyId(t.name, row));
    for (const id of [...this.selection]) if (!exists.has(id)) this.selection.delete(id);
    this.buildLabels();
    this.clampScroll();
  }

  trackIndex(name) { return this.tracks.findIndex((t) => t.name === name); }

  laneRect(i) {
    const t = this.tracks[i];
    return { top: i * LANE_H - this.scrollY, height: LANE_H, lo: t.lo, hi: t.hi };
  }

  laneAt(y) {
    const i = Math.floor((y + this.scrollY) / LANE_H);
    return i >= 0 && i < this.tracks.length ? i : -1;
  }

  keysOf(i) {
    const t = this.tracks[i];
    return (this.preview && this.preview.get(t.name)) || t.keys;
  }

  keyAt(x, y) {
    const i = this.laneAt(y);
    if (i < 0) return null;
    const view = this.app.view, lane = this.laneRect(i), keys = this.tracks[i].keys;
    const row = Math.round(view.rowOfMs(view.msOfX(x)));
    let best = null, bestDistance = HANDLE_RADIUS + 3;
    const first = Math.max(0, findKey(keys, row - Math.ceil(view.rowOfMs(view.msPerPx * 10))));
    for (let k = first; k < keys.length; k++) {
      const kx = view.xOfMs(view.msOfRow(keys[k][0]));
      if (kx > x + bestDistance) break;
      const distance = Math.hypot(kx - x, yOfValue(lane, keys[k][1]) - y);
      if (distance <= bestDistance) {
        best = { lane: i, track: this.tracks[i].name, row: keys[k][0], value: keys[k][1], kind: keys[k][2] };
        bestDistance = distance;
      }
    }
    return best;
  }

  scrollBy(dy) {
    this.scrollY += dy;
    this.clampScroll();
    this.placeLabels();
  }

  clampScroll() {
    const max = Math.max(0, this.tracks.length * LANE_H - this.canvas.clientHeight);
    this.scrollY = Math.min(Math.max(this.scrollY, 0), max);
  }

  // ---- names at the left (DOM, so they can be read, selected and renamed) ----
  buildLabels() {
    this.labels.replaceChildren(...this.tracks.map((t) => {
      const label = document.createElement('div');
      label.className = 'lane-label';
      label.dataset.track = t.name;
      label.style.height = `${LANE_H}px`;
      label.title = 'double-click to rename';
      const name = document.createElement('span');
      name.textContent = t.name;
      const range = document.createElement('span');
      range.className = 'range';
      range.textContent = `${t.keys.length} keys`;
      label.append(name, range);
      label.addEventListener('dblclick', () => this.rename(label, t.name));
      return label;
    }));
    this.placeLabels();
  }

  placeLabels() {
    [...this.labels.children].forEach((label, i) => { label.style.top = `${i * LANE_H - this.scrollY}px`; });
  }

  rename(label, name) {
    const input = document.createElement('input');
    input.value = name;
    input.spellcheck = false;
    label.replaceChildren(input);
    input.focus();
    input.select();
    let done = false;
    const finish = (commit) => {
      if (done) return;
      done = true;
      if (commit && input.value && input.value !== name) {
        this.app.edit({ op: 'rename_track', track: name, to: input.value });
      }
      this.buildLabels();
    };
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') finish(true);
      if (e.key === 'Escape') finish(false);
      e.stopPropagation();
    });
    input.addEventListener('blur', () => finish(false));
  }

  // ---- pointer ----
  down(e) {
    if (e.button !== 0) return;
    this.canvas.setPointerCapture(e.pointerId);
    const additive = e.shiftKey || e.ctrlKey || e.metaKey;
    const hit = e.offsetX >= this.app.view.left ? this.keyAt(e.offsetX, e.offsetY) : null;
    if (hit) {
      const id = keyId(hit.track, hit.row);
      const wasSelected = this.selection.has(id);
      if (!wasSelected) {
        if (!additive) this.selection.clear();
        this.selection.add(id);
      }
      this.drag = {
        kind: 'move', x0: e.offsetX, y0: e.offsetY, moved: false, toggleOff: wasSelected && additive ? id : null,
        rows: 0, values: null,
      };
    } else {
      if (!additive) this.selection.clear();
      this.drag = { kind: 'band', x0: e.offsetX, y0: e.offsetY, x: e.offsetX, y: e.offsetY, base: new Set(this.selection) };
    }
    this.app.redraw();
  }

  move(e) {
    if (!this.drag) {
      this.showReadout(e.offsetX, e.offsetY);
      return;
    }
    if (this.drag.kind === 'band') {
      this.drag.x = e.offsetX;
      this.drag.y = e.offsetY;
      this.bandSelect();
    } else {
      this.dragKeys(e.offsetX, e.offsetY, e.shiftKey);
    }
    this.app.redraw();
  }

  up(e) {
    const drag = this.drag;
    if (!drag) return;
    this.canvas.releasePointerCapture(e.pointerId);
    if (drag.kind === 'move') {
      if (drag.moved) this.commitMove();
      else if (drag.toggleOff) this.selection.delete(drag.toggleOff);
    }
    this.drag = null;
    if (!this.preview) this.setTracks(this.app.state.tracks, this.app.state.version);
    this.app.redraw();
  }

  cancelDrag() {
    this.drag = null;
    this.preview = null;
    this.app.redraw();
  }

  bandSelect() {
    const { x0, y0, x, y, base } = this.drag;
    const view = this.app.view;
    const left = Math.min(x0, x), right = Math.max(x0, x), top = Math.min(y0, y), bottom = Math.max(y0, y);
    this.selection = new Set(base);
    this.tracks.forEach((t, i) => {
      const lane = this.laneRect(i);
      if (lane.top > bottom || lane.top + lane.height < top) return;
      for (const [row, value] of t.keys) {
        const kx = view.xOfMs(view.msOfRow(row)), ky = yOfValue(lane, value);
        if (kx >= left && kx <= right && ky >= top && ky <= bottom) this.selection.add(keyId(t.name, row));
      }
    });
  }

  // The selected keys moved by whole rows and by the pointer's height in each lane's scale.
  dragKeys(x, y, round) {
    const view = this.app.view, drag = this.drag;
    const lastRow = this.app.state.timeline.last_row;
    let rows = Math.round(view.rowOfMs(view.msOfX(x)) - view.rowOfMs(view.msOfX(drag.x0)));
    const dy = y - drag.y0;
    const moved = [];
    for (const t of this.tracks) {
      for (const key of t.keys) if (this.selection.has(keyId(t.name, key[0]))) moved.push({ t, key });
    }
    if (moved.length === 0) return;
    const minRow = Math.min(...moved.map((m) => m.key[0])), maxRow = Math.max(...moved.map((m) => m.key[0]));
    rows = Math.min(Math.max(rows, -minRow), lastRow - maxRow);
    drag.moved = drag.moved || rows !== 0 || Math.abs(dy) > 2;
    if (!drag.moved) return;
    drag.changes = moved.map(({ t, key }) => {
      const span = t.hi - t.lo, inner = LANE_H - 16;
      let value = key[1] - dy * span / inner;
      if (round) {
        const step = niceStep(span);
        value = Math.round(value / step) * step;
      }
      return { track: t.name, row: key[0], to_row: key[0] + rows, value: Math.fround(Number(value.toPrecision(7))) };
    });
    drag.landing = new Set(drag.changes.map((c) => keyId(c.track, c.to_row)));
    this.preview = new Map();
    for (const t of this.tracks) {
      const mine = drag.changes.filter((c) => c.track === t.name);
      if (mine.length === 0) continue;
      const movedRows = new Set(mine.map((c) => c.row));
      const kinds = new Map(t.keys.map((k) => [k[0], k[2]]));
      const keys = t.keys.filter((k) => !movedRows.has(k[0]))
        .concat(mine.map((c) => [c.to_row, c.value, kinds.get(c.row)]));
      keys.sort((a, b) => a[0] - b[0]);
      this.preview.set(t.name, keys);
    }
    this.app.setReadout(`moving ${moved.length} key${moved.length > 1 ? 's' : ''} by ${rows} rows`);
  }

  async commitMove() {
    const changes = this.drag.changes;
    if (!changes) return;
    const preview = this.preview;
    // The selection follows the keys to their new rows.
    this.selection = new Set(changes.map((c) => keyId(c.track, c.to_row)));
    const version = await this.app.edit({ op: 'move', keys: changes });
    if (this.preview !== preview) return;
    if (version) this.previewVersion = version;
    else this.preview = null;
    if (version && this.app.state.version >= version) this.preview = null;
    this.app.redraw();
  }

  addKeyAt(e) {
    const view = this.app.view;
    const i = this.laneAt(e.offsetY);
    if (i < 0 || e.offsetX < view.left || this.keyAt(e.offsetX, e.offsetY)) return;
    const t = this.tracks[i], lane = this.laneRect(i);
    const row = Math.round(view.rowOfMs(view.msOfX(e.offsetX)));
    if (row < 0 || row > this.app.state.timeline.last_row) return;
    let value = valueOfY(lane, e.offsetY);
    if (e.shiftKey) {
      const step = niceStep(t.hi - t.lo);
      value = Math.round(value / step) * step;
    }
    const before = findKey(t.keys, row);
    const kind = before >= 0 ? INTERPOLATIONS[t.keys[before][2]] || 'linear' : 'linear';
    this.selection = new Set([keyId(t.name, row)]);
    this.app.edit({ op: 'add', keys: [{ track: t.name, row, value: Number(value.toPrecision(6)), interpolation: kind }] });
  }

  selectedKeys() {
    return [...this.selection].map((id) => {
      const [track, row] = id.split('\n');
      return { track, row: Number(row) };
    });
  }

  showReadout(x, y) {
    const view = this.app.view;
    const i = this.laneAt(y);
    if (i < 0 || x < view.left) {
      this.app.setReadout('');
      return;
    }
    const t = this.tracks[i];
    const hit = this.keyAt(x, y);
    if (hit) {
      this.app.setReadout(`${t.name}: key ${formatPosition(hit.row, view.rowsPerBeat)} = ${formatValue(hit.value)} ` +
        `${INTERPOLATIONS[hit.kind] || 'code ' + hit.kind}`);
      return;
    }
    const ms = Math.round(view.msOfX(x));
    const value = getValue(this.keysOf(i), ms, view.rowsPerSecond);
    this.app.setReadout(`${t.name} = ${formatValue(value)} at ${formatTime(ms)} ` +
      `(${formatPosition(Math.floor(view.rowOfMs(ms)), view.rowsPerBeat)})`);
  }

  // ---- drawing ----
  draw(ctx, colors) {
    const view = this.app.view, width = view.width, height = this.canvas.clientHeight;
    ctx.fillStyle = colors.background;
    ctx.fillRect(0, 0, width, height);
    ctx.save();
    ctx.beginPath();
    ctx.rect(view.left, 0, width - view.left, height);
    ctx.clip();
    const player = this.app.player;
    if (player.loop_on) {
      ctx.fillStyle = colors.loop;
      ctx.fillRect(view.xOfMs(player.loop_start_ms), 0, view.xOfMs(player.loop_end_ms) - view.xOfMs(player.loop_start_ms), height);
    }
    drawGrid(ctx, view, 0, height, colors);
    const endX = view.xOfMs(this.app.state ? this.app.state.timeline.show_end_ms : view.totalMs);
    if (endX < width) {
      ctx.fillStyle = colors.afterEnd;
      ctx.fillRect(endX, 0, width - endX, height);
    }
    const first = Math.max(0, Math.floor(this.scrollY / LANE_H));
    for (let i = first; i < this.tracks.length; i++) {
      const lane = this.laneRect(i);
      if (lane.top > height) break;
      const t = this.tracks[i];
      if (i % 2) {
        ctx.fillStyle = colors.laneAlt;
        ctx.fillRect(view.left, lane.top, width - view.left, LANE_H);
      }
      if (lane.lo < 0 && lane.hi > 0) {
        const y = Math.round(yOfValue(lane, 0)) + 0.5;
        ctx.strokeStyle = colors.zero;
        ctx.beginPath();
        ctx.moveTo(view.left, y);
        ctx.lineTo(width, y);
        ctx.stroke();
      }
      drawCurve(ctx, this.keysOf(i), view, lane, colors, (row) => this.isSelected(t.name, row));
      ctx.strokeStyle = colors.line;
      ctx.beginPath();
      ctx.moveTo(view.left, lane.top + LANE_H - 0.5);
      ctx.lineTo(width, lane.top + LANE_H - 0.5);
      ctx.stroke();
    }
    if (this.drag && this.drag.kind === 'band') {
      const { x0, y0, x, y } = this.drag;
      ctx.strokeStyle = colors.selected;
      ctx.setLineDash([4, 3]);
      ctx.strokeRect(Math.min(x0, x) + 0.5, Math.min(y0, y) + 0.5, Math.abs(x - x0), Math.abs(y - y0));
      ctx.setLineDash([]);
    }
    ctx.restore();
  }

  isSelected(track, row) {
    if (this.drag && this.drag.landing) return this.drag.landing.has(keyId(track, row));
    return this.selection.has(keyId(track, row));
  }
}
