// The lanes: one per track, its curve and key handles over the grid with its value scale at the
// side, its name at the left with the value the show reads at the playhead. Selecting (click,
// Shift+click, dragging a band, a click on a name), moving keys live (the show plays the
// dragged keys before they are saved; axis lock, Shift rounds, Alt fine, Ctrl+drag copies),
// adding (double-click a lane), exact entry (double-click a key), renaming, reordering
// (dragging a name) and deleting tracks. Every change goes to the server as an edit; the lanes
// show what the server sends.
//
// [SECTION] tracks and layout   [SECTION] names   [SECTION] pointer   [SECTION] drags
// [SECTION] read-outs   [SECTION] drawing

import { drawCurve, findKey, getValue, HANDLE_RADIUS, INTERPOLATIONS, LANE_PAD, valueAt, valueOfY, yOfValue } from './curve.js';
import { drawGrid } from './ruler.js';
import { formatOffset, formatPosition, formatTime, formatValue } from './view.js';

export const LANE_H = 64;
export const MIN_LANE_H = 40, MAX_LANE_H = 240;
// A drag goes along the direction it started in until the pointer strays this far across it.
const AXIS_SLACK = 8;
// The pointer moves this far before a press on a key becomes a drag.
const DRAG_START = 4;
// Alt divides a drag's change of value by this.
const FINE = 10;

const keyId = (track, row) => `${track}\n${row}`;

// A round step near a twentieth of a range: 0.01, 0.02, 0.05, 0.1, ...
export function niceStep(range, parts = 20) {
  const raw = range / parts;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const m of [1, 2, 5, 10]) if (m * power >= raw) return m * power;
  return 10 * power;
}

// The values a lane shows: its keys and 0, with room around them, on round steps. A lane keeps
// the range it had while its keys stay inside and fill a fair part of it, so its scale (and the
// step Shift rounds to) does not change under the user with every edit.
function laneRange(keys, old) {
  let lo = 0, hi = 0;
  for (const [, value] of keys) {
    if (value < lo) lo = value;
    if (value > hi) hi = value;
  }
  if (old && lo >= old.lo && hi <= old.hi && old.hi - old.lo <= 4 * Math.max(hi - lo, 1e-6)) return old;
  if (hi - lo < 1e-6) hi = lo + 1;
  const pad = (hi - lo) * 0.08;
  const step = niceStep(hi - lo + 2 * pad);
  return { lo: Math.floor((lo - pad) / step) * step, hi: Math.ceil((hi + pad) / step) * step };
}

export class Lanes {
  constructor(canvas, labels, app) {
    this.canvas = canvas;
    this.labels = labels;
    this.app = app;
    this.box = canvas.parentElement;
    this.tip = document.getElementById('drag-tip');
    this.reorderLine = document.getElementById('reorder-line');
    this.scrollY = 0;
    this.laneH = LANE_H;
    this.tracks = [];            // [{name, keys, lo, hi}]
    this.selection = new Set();  // keyId(track, row)
    this.focused = null;         // the name of the track keys go to (insert, paste of one track)
    this.revealName = null;      // a track to scroll into view once the server sends it
    this.drag = null;
    this.preview = null;         // Map(track name -> keys) while keys are dragged or being saved
    this.previewVersion = 0;     // the version whose state ends the preview
    this.valueCells = [];        // the value read-out beside each name
    canvas.addEventListener('pointerdown', (e) => this.down(e));
    canvas.addEventListener('pointermove', (e) => this.move(e));
    canvas.addEventListener('pointerup', (e) => this.up(e));
    canvas.addEventListener('pointercancel', () => this.cancelDrag());
    canvas.addEventListener('pointerleave', () => this.app.setReadout(''));
    canvas.addEventListener('dblclick', (e) => this.doubleClick(e));
    canvas.addEventListener('contextmenu', (e) => this.contextMenu(e));
  }

  // ---- [SECTION] tracks and layout ----
  setTracks(tracks, version) {
    const old = new Map(this.tracks.map((t) => [t.name, t]));
    this.tracks = tracks.map((t) => {
      const before = old.get(t.name);
      // While keys are dragged the lane keeps its scale, so the key stays under the pointer.
      const range = this.drag && before ? { lo: before.lo, hi: before.hi } : laneRange(t.keys, before);
      return { name: t.name, keys: t.keys, lo: range.lo, hi: range.hi };
    });
    if (this.preview && version >= this.previewVersion && !this.drag) this.preview = null;
    const exists = new Set();
    for (const t of this.tracks) for (const [row] of t.keys) exists.add(keyId(t.name, row));
    for (const id of [...this.selection]) if (!exists.has(id)) this.selection.delete(id);
    if (this.focused !== null && this.trackIndex(this.focused) < 0) this.focused = null;
    this.buildLabels();
    this.clampScroll();
    if (this.revealName !== null && this.trackIndex(this.revealName) >= 0) {
      this.focusTrack(this.revealName);
      this.revealName = null;
    }
  }

  trackIndex(name) { return this.tracks.findIndex((t) => t.name === name); }

  laneRect(i) {
    const t = this.tracks[i];
    return { top: i * this.laneH - this.scrollY, height: this.laneH, lo: t.lo, hi: t.hi };
  }

  laneAt(y) {
    const i = Math.floor((y + this.scrollY) / this.laneH);
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

  setLaneHeight(height) {
    const h = Math.min(Math.max(Math.round(height), MIN_LANE_H), MAX_LANE_H);
    if (h === this.laneH) return;
    // The lane at the top of the view stays there.
    const topLane = this.scrollY / this.laneH;
    this.laneH = h;
    this.scrollY = topLane * h;
    this.clampScroll();
    this.buildLabels();
    this.app.redraw();
  }

  scrollBy(dy) {
    this.scrollY += dy;
    this.clampScroll();
    this.placeLabels();
  }

  clampScroll() {
    const max = Math.max(0, this.tracks.length * this.laneH - this.canvas.clientHeight);
    this.scrollY = Math.min(Math.max(this.scrollY, 0), max);
  }

  // Scrolls the lanes so that track i is wholly in view.
  revealLane(i) {
    const top = i * this.laneH, height = this.canvas.clientHeight;
    if (top < this.scrollY) this.scrollY = top;
    else if (top + this.laneH > this.scrollY + height) this.scrollY = top + this.laneH - height;
    this.clampScroll();
    this.placeLabels();
  }

  focusTrack(name) {
    this.focused = name;
    const i = this.trackIndex(name);
    if (i >= 0) this.revealLane(i);
    for (const label of this.labels.children) label.classList.toggle('focused', label.dataset.track === name);
    this.app.redraw();
  }

  // Up and Down: the track above or below the focused one (the first when none is).
  focusStep(step) {
    if (this.tracks.length === 0) return;
    const i = this.trackIndex(this.focused);
    const next = i < 0 ? (step > 0 ? 0 : this.tracks.length - 1) : Math.min(Math.max(i + step, 0), this.tracks.length - 1);
    this.focusTrack(this.tracks[next].name);
  }

  // ---- [SECTION] names (DOM, so they can be read, selected, renamed and dragged) ----
  buildLabels() {
    this.valueCells = [];
    this.labels.replaceChildren(...this.tracks.map((t) => {
      const label = document.createElement('div');
      label.className = 'lane-label' + (t.name === this.focused ? ' focused' : '');
      label.dataset.track = t.name;
      label.style.height = `${this.laneH}px`;
      label.title = 'click: select its keys; drag: move the track; double-click: rename';
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = t.name;
      const value = document.createElement('span');
      value.className = 'value';
      value.title = 'the value the show reads at the playhead';
      const count = document.createElement('span');
      count.className = 'count';
      count.textContent = `${t.keys.length} keys`;
      const remove = document.createElement('button');
      remove.className = 'remove';
      remove.textContent = '\u00d7';
      remove.title = `delete track ${t.name} (Shift+Delete; undo brings it back)`;
      remove.addEventListener('click', (e) => {
        e.stopPropagation();
        remove.blur();
        this.app.deleteTrack(t.name);
      });
      remove.addEventListener('pointerdown', (e) => e.stopPropagation());
      label.append(name, remove, value, count);
      this.valueCells.push({ cell: value, text: '' });
      label.addEventListener('pointerdown', (e) => this.labelDown(e, label, t.name));
      label.addEventListener('pointermove', (e) => this.labelMove(e));
      label.addEventListener('pointerup', (e) => this.labelUp(e, label));
      label.addEventListener('pointercancel', () => this.labelCancel());
      label.addEventListener('dblclick', () => this.rename(label, t.name));
      return label;
    }));
    this.placeLabels();
    this.lastValuesMs = null;
  }

  placeLabels() {
    [...this.labels.children].forEach((label, i) => { label.style.top = `${i * this.laneH - this.scrollY}px`; });
  }

  labelDown(e, label, name) {
    if (e.button !== 0 || e.target instanceof HTMLInputElement) return;
    label.setPointerCapture(e.pointerId);
    this.labelDrag = { name, y0: e.clientY, moved: false, additive: e.shiftKey || e.ctrlKey || e.metaKey };
  }

  labelMove(e) {
    const drag = this.labelDrag;
    if (!drag) return;
    if (!drag.moved && Math.abs(e.clientY - drag.y0) < DRAG_START) return;
    drag.moved = true;
    drag.slot = this.slotAt(e.clientY);
    this.reorderLine.hidden = false;
    this.reorderLine.style.top = `${drag.slot * this.laneH - this.scrollY - 1}px`;
  }

  labelUp(e, label) {
    const drag = this.labelDrag;
    if (!drag) return;
    this.labelDrag = null;
    this.reorderLine.hidden = true;
    if (label.hasPointerCapture(e.pointerId)) label.releasePointerCapture(e.pointerId);
    if (!drag.moved) {
      this.selectTrack(drag.name, drag.additive);
      return;
    }
    const from = this.trackIndex(drag.name), slot = this.slotAt(e.clientY);
    if (from < 0 || slot === from || slot === from + 1) return;
    const before = slot < this.tracks.length ? this.tracks[slot].name : null;
    this.app.edit({ op: 'move_track', track: drag.name, before });
  }

  labelCancel() {
    this.labelDrag = null;
    this.reorderLine.hidden = true;
  }

  // The gap between lanes nearest to a client y: 0 above the first, n below the last.
  slotAt(clientY) {
    const y = clientY - this.labels.getBoundingClientRect().top + this.scrollY;
    return Math.min(Math.max(Math.round(y / this.laneH), 0), this.tracks.length);
  }

  // A click on a name: the track's keys become the selection (Shift adds them).
  selectTrack(name, additive) {
    const i = this.trackIndex(name);
    if (i < 0) return;
    if (!additive) this.selection.clear();
    for (const [row] of this.tracks[i].keys) this.selection.add(keyId(name, row));
    this.focusTrack(name);
    this.app.selectionChanged();
  }

  rename(label, name) {
    this.labelCancel();
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
      const to = input.value.trim();
      if (commit && !to) {
        this.app.notice(`A track needs a name. To delete track ${name}, use \u00d7 beside its name or Shift+Delete.`, true);
      } else if (commit && to !== name) {
        // The focus goes with the name.
        if (this.focused === name) this.revealName = to;
        this.app.edit({ op: 'rename_track', track: name, to });
      }
      this.buildLabels();
    };
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') finish(true);
      if (e.key === 'Escape') finish(false);
      e.stopPropagation();
    });
    input.addEventListener('pointerdown', (e) => e.stopPropagation());
    input.addEventListener('blur', () => finish(false));
  }

  // ---- [SECTION] pointer ----
  down(e) {
    if (e.button !== 0) return;
    this.app.closeMenus();
    this.canvas.setPointerCapture(e.pointerId);
    const ctrl = e.ctrlKey || e.metaKey;
    const additive = e.shiftKey || ctrl;
    const hit = e.offsetX >= this.app.view.left ? this.keyAt(e.offsetX, e.offsetY) : null;
    const lane = this.laneAt(e.offsetY);
    if (lane >= 0 && this.tracks[lane].name !== this.focused) this.focusTrack(this.tracks[lane].name);
    if (hit) {
      const id = keyId(hit.track, hit.row);
      const wasSelected = this.selection.has(id);
      if (!wasSelected) {
        if (!additive) this.selection.clear();
        this.selection.add(id);
      }
      this.drag = {
        kind: 'move', x0: e.offsetX, y0: e.offsetY, started: false, copy: ctrl, axis: null, slack: { x: 0, y: 0 },
        toggleOff: wasSelected && additive ? id : null, changes: null, moved: null,
      };
    } else {
      if (!additive) this.selection.clear();
      this.drag = { kind: 'band', x0: e.offsetX, y0: e.offsetY, x: e.offsetX, y: e.offsetY, base: new Set(this.selection) };
    }
    this.app.selectionChanged();
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
      this.app.selectionChanged();
    } else {
      this.dragKeys(e.offsetX, e.offsetY, { round: e.shiftKey, fine: e.altKey });
    }
    this.app.redraw();
  }

  async up(e) {
    const drag = this.drag;
    if (!drag) return;
    if (this.canvas.hasPointerCapture(e.pointerId)) this.canvas.releasePointerCapture(e.pointerId);
    this.hideTip();
    if (drag.kind === 'move') {
      if (drag.started && drag.changes) {
        await this.commitDrag(drag);
        return;
      }
      if (drag.started) this.app.endPreview();
      else if (drag.toggleOff) this.selection.delete(drag.toggleOff);
    }
    this.drag = null;
    this.preview = null;
    this.app.selectionChanged();
    this.app.redraw();
  }

  // Escape, or the browser taking the pointer: the keys go back and the show plays the source.
  cancelDrag() {
    if (!this.drag) return false;
    const wasMove = this.drag.kind === 'move' && this.drag.started;
    if (this.drag.kind === 'band') this.selection = this.drag.base;
    this.drag = null;
    this.preview = null;
    this.hideTip();
    if (wasMove) this.app.endPreview();
    this.app.selectionChanged();
    this.app.redraw();
    return true;
  }

  doubleClick(e) {
    const hit = e.offsetX >= this.app.view.left ? this.keyAt(e.offsetX, e.offsetY) : null;
    if (hit) {
      this.selection = new Set([keyId(hit.track, hit.row)]);
      this.app.selectionChanged();
      this.app.openEntry({ x: e.offsetX, y: e.offsetY });
    } else {
      this.addKeyAt(e);
    }
  }

  contextMenu(e) {
    e.preventDefault();
    const hit = e.offsetX >= this.app.view.left ? this.keyAt(e.offsetX, e.offsetY) : null;
    if (hit && !this.selection.has(keyId(hit.track, hit.row))) {
      this.selection = new Set([keyId(hit.track, hit.row)]);
      this.app.selectionChanged();
    }
    const lane = this.laneAt(e.offsetY);
    if (lane >= 0) this.focusTrack(this.tracks[lane].name);
    this.app.openMenu(e.clientX, e.clientY);
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

  // ---- [SECTION] drags ----
  // The selected keys moved by whole rows and by the pointer's height in each lane's scale,
  // along the axis the drag started on until the pointer strays AXIS_SLACK pixels off it.
  dragKeys(x, y, { round, fine }) {
    const view = this.app.view, drag = this.drag;
    const lastRow = this.app.state.timeline.last_row;
    let dx = x - drag.x0, dy = y - drag.y0;
    if (!drag.started) {
      if (Math.max(Math.abs(dx), Math.abs(dy)) < DRAG_START) return;
      drag.started = true;
      drag.axis = Math.abs(dx) >= Math.abs(dy) ? 'time' : 'value';
    }
    if (drag.axis === 'time' && Math.abs(dy) > AXIS_SLACK) {
      drag.axis = 'free';
      drag.slack = { x: 0, y: Math.sign(dy) * AXIS_SLACK };
    } else if (drag.axis === 'value' && Math.abs(dx) > AXIS_SLACK) {
      drag.axis = 'free';
      drag.slack = { x: Math.sign(dx) * AXIS_SLACK, y: 0 };
    }
    dx = drag.axis === 'value' ? 0 : dx - drag.slack.x;
    dy = drag.axis === 'time' ? 0 : dy - drag.slack.y;
    let rows = Math.round(view.rowOfMs(dx * view.msPerPx));
    // The selection stays as it is for the whole drag: its keys are gathered once.
    if (!drag.moved) {
      drag.moved = [];
      for (const t of this.tracks) {
        for (const key of t.keys) if (this.selection.has(keyId(t.name, key[0]))) drag.moved.push({ t, key });
      }
      drag.minRow = Math.min(...drag.moved.map((m) => m.key[0]));
      drag.maxRow = Math.max(...drag.moved.map((m) => m.key[0]));
    }
    const moved = drag.moved;
    if (moved.length === 0) return;
    rows = Math.min(Math.max(rows, -drag.minRow), lastRow - drag.maxRow);
    const inner = this.laneH - 2 * LANE_PAD;
    drag.changes = moved.map(({ t, key }) => {
      const span = t.hi - t.lo;
      let value = key[1] - dy * span / inner / (fine ? FINE : 1);
      if (round && dy !== 0) {
        const step = niceStep(span) / (fine ? FINE : 1);
        value = Math.round(value / step) * step;
      }
      value = dy === 0 ? key[1] : Number(value.toPrecision(7));
      return { track: t.name, row: key[0], to_row: key[0] + rows, value, kind: key[2] };
    });
    drag.rows = rows;
    this.preview = new Map();
    for (const t of this.tracks) {
      const mine = drag.changes.filter((c) => c.track === t.name);
      if (mine.length === 0) continue;
      // A copy replaces the keys where it lands; a move leaves its rows (and a key in its way
      // stays in sight: the server refuses that move and the tip says why).
      const gone = new Set(mine.map((c) => (drag.copy ? c.to_row : c.row)));
      const keys = t.keys.filter((k) => !gone.has(k[0]))
        .concat(mine.map((c) => [c.to_row, Math.fround(c.value), c.kind]));
      keys.sort((a, b) => a[0] - b[0]);
      this.preview.set(t.name, keys);
    }
    drag.landing = new Set(drag.changes.map((c) => keyId(c.track, c.to_row)));
    this.app.preview(this.dragRequest(drag), (refusal) => this.showTip(x, y, drag, refusal));
    this.showTip(x, y, drag, null);
  }

  dragRequest(drag) {
    if (drag.copy) {
      return {
        op: 'duplicate',
        keys: drag.changes.map((c) => ({ track: c.track, row: c.to_row, value: c.value, interpolation: INTERPOLATIONS[c.kind] || 'linear' })),
      };
    }
    return { op: 'move', keys: drag.changes.map(({ track, row, to_row, value }) => ({ track, row, to_row, value })) };
  }

  // Released: one edit, one step of the history. The selection follows the keys, and goes
  // back to where they were when the server refuses the change.
  async commitDrag(drag) {
    const before = this.selection;
    this.selection = new Set(drag.landing);
    const preview = this.preview;
    const version = await this.app.commitPreview(this.dragRequest(drag));
    if (this.drag === drag) this.drag = null;
    if (!version) this.selection = before;
    if (this.preview === preview) this.previewVersion = version || 0;
    // The lanes' scales, kept during the drag, fit the keys again (and the preview goes) once
    // the state of the change is here; a state still on its way does it when it comes.
    const state = this.app.state;
    if (!version || state.version >= version) this.setTracks(state.tracks, state.version);
    this.app.selectionChanged();
    this.app.redraw();
  }

  showTip(x, y, drag, refusal) {
    if (this.drag !== drag) return;
    const view = this.app.view, rowsPerBeat = view.rowsPerBeat;
    let text;
    if (drag.changes.length === 1) {
      const c = drag.changes[0];
      text = `${c.track} ${formatPosition(c.to_row, rowsPerBeat)}  ${formatValue(Math.fround(c.value))}`;
    } else {
      const c = drag.changes[0], t = this.tracks[this.trackIndex(c.track)];
      const dv = c.value - (t.keys[findKey(t.keys, c.row)] || [0, c.value])[1];
      text = `${drag.changes.length} keys ${formatOffset(drag.rows, rowsPerBeat)}  ${dv >= 0 ? '+' : ''}${formatValue(dv)}`;
    }
    if (drag.copy) text = `copy: ${text}`;
    if (drag.axis === 'time') text += '  (time only)';
    if (drag.axis === 'value') text += '  (value only)';
    this.tip.textContent = refusal ? `${text}\n${refusal}` : text;
    this.tip.classList.toggle('error', !!refusal);
    this.tip.hidden = false;
    this.tip.style.left = `${Math.min(x + 14, this.canvas.clientWidth - this.tip.offsetWidth - 4)}px`;
    this.tip.style.top = `${Math.max(0, y - 28)}px`;
  }

  hideTip() { this.tip.hidden = true; }

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
    this.addKey(t.name, row, Number(value.toPrecision(6)));
  }

  // A key on a track at a row, with the interpolation of the key before it.
  addKey(track, row, value) {
    const t = this.tracks[this.trackIndex(track)];
    const existing = t.keys.find((k) => k[0] === row);
    if (existing) {
      this.selection = new Set([keyId(track, row)]);
      this.app.selectionChanged();
      this.app.notice(`${track} already has a key at ${formatPosition(row, this.app.view.rowsPerBeat)} ` +
        `(${formatValue(existing[1])}); it is selected now`);
      return;
    }
    const before = findKey(t.keys, row);
    const kind = before >= 0 ? INTERPOLATIONS[t.keys[before][2]] || 'linear' : 'linear';
    this.selection = new Set([keyId(track, row)]);
    this.app.selectionChanged();
    this.app.edit({ op: 'add', keys: [{ track, row, value, interpolation: kind }] });
  }

  // The value the curve of a track has at a row (where a new key keeps the curve through it).
  valueAtRow(track, row) {
    const i = this.trackIndex(track);
    return i < 0 ? 0 : Math.fround(valueAt(this.tracks[i].keys, row));
  }

  selectedKeys() {
    return [...this.selection].map((id) => {
      const [track, row] = id.split('\n');
      return { track, row: Number(row) };
    });
  }

  // The selected keys with their values and interpolations, in time order.
  selectedDetails() {
    const out = [];
    for (const t of this.tracks) {
      for (const [row, value, kind] of t.keys) if (this.selection.has(keyId(t.name, row))) out.push({ track: t.name, row, value, kind });
    }
    return out.sort((a, b) => a.row - b.row);
  }

  select(keys) {
    this.selection = new Set(keys.map((k) => keyId(k.track, k.row)));
    this.app.selectionChanged();
    this.app.redraw();
  }

  selectAll() {
    this.selection = new Set();
    for (const t of this.tracks) for (const [row] of t.keys) this.selection.add(keyId(t.name, row));
    this.app.selectionChanged();
    this.app.redraw();
  }

  // The screen place of a key in the lanes box, for the entry box beside it.
  keyPlace(track, row) {
    const i = this.trackIndex(track);
    const key = i < 0 ? null : this.tracks[i].keys.find((k) => k[0] === row);
    if (!key) return { x: this.app.view.left, y: 0 };
    return { x: this.app.view.xOfMs(this.app.view.msOfRow(row)), y: yOfValue(this.laneRect(i), key[1]) };
  }

  // ---- [SECTION] read-outs ----
  // Beside each name, the value the show reads at ms (a whole millisecond, as modules ask).
  updateValues(ms) {
    if (ms === this.lastValuesMs && !this.app.dirty) return;
    this.lastValuesMs = ms;
    const rowsPerSecond = this.app.view.rowsPerSecond;
    for (let i = 0; i < this.valueCells.length && i < this.tracks.length; i++) {
      const cell = this.valueCells[i];
      const text = formatValue(getValue(this.keysOf(i), ms, rowsPerSecond));
      if (text !== cell.text) {
        cell.text = text;
        cell.cell.textContent = text;
      }
    }
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
        `${INTERPOLATIONS[hit.kind] || 'code ' + hit.kind} (double-click or Enter to type a value)`);
      return;
    }
    const ms = Math.round(view.msOfX(x));
    const value = getValue(this.keysOf(i), ms, view.rowsPerSecond);
    this.app.setReadout(`${t.name} = ${formatValue(value)} at ${formatPosition(view.rowAt(ms), view.rowsPerBeat)} ` +
      `(${formatTime(ms)})`);
  }

  // ---- [SECTION] drawing ----
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
    // The selected rows of each track, looked up by number while the handles are drawn.
    const marked = new Map();
    for (const id of this.drag && this.drag.landing ? this.drag.landing : this.selection) {
      const cut = id.indexOf('\n');
      const name = id.slice(0, cut);
      if (!marked.has(name)) marked.set(name, new Set());
      marked.get(name).add(Number(id.slice(cut + 1)));
    }
    const none = new Set();
    const first = Math.max(0, Math.floor(this.scrollY / this.laneH));
    for (let i = first; i < this.tracks.length; i++) {
      const lane = this.laneRect(i);
      if (lane.top > height) break;
      const t = this.tracks[i];
      if (t.name === this.focused) {
        ctx.fillStyle = colors.focused;
        ctx.fillRect(view.left, lane.top, width - view.left, this.laneH);
      } else if (i % 2) {
        ctx.fillStyle = colors.laneAlt;
        ctx.fillRect(view.left, lane.top, width - view.left, this.laneH);
      }
      this.drawScale(ctx, lane, colors);
      const rows = marked.get(t.name) || none;
      drawCurve(ctx, this.keysOf(i), view, lane, colors, (row) => rows.has(row));
      ctx.strokeStyle = colors.line;
      ctx.beginPath();
      ctx.moveTo(view.left, lane.top + this.laneH - 0.5);
      ctx.lineTo(width, lane.top + this.laneH - 0.5);
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

  // The lane's value scale: round values at least 16 pixels apart, a faint line across the
  // lane at each (a stronger one at 0) and the value at the lane's left end.
  drawScale(ctx, lane, colors) {
    const view = this.app.view, width = view.width;
    const inner = lane.height - 2 * LANE_PAD, span = lane.hi - lane.lo;
    if (!(span > 0) || inner <= 0) return;
    const step = niceStep(span, Math.max(1, Math.floor(inner / 16)));
    ctx.font = '10px system-ui, sans-serif';
    ctx.textBaseline = 'middle';
    ctx.fillStyle = colors.dim;
    const firstTick = Math.ceil(lane.lo / step - 1e-9);
    for (let n = firstTick; n * step <= lane.hi + step * 1e-9; n++) {
      const v = n * step;
      const y = Math.round(yOfValue(lane, v)) + 0.5;
      if (y < lane.top + 2 || y > lane.top + lane.height - 2) continue;
      ctx.strokeStyle = n === 0 ? colors.zero : colors.scale;
      ctx.beginPath();
      ctx.moveTo(view.left, y);
      ctx.lineTo(width, y);
      ctx.stroke();
      ctx.fillText(formatValue(Number(v.toPrecision(6))), view.left + 3, y);
    }
  }

}
