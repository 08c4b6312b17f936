// The visible stretch of the show: which millisecond lies under which pixel, rows and times,
// zoom and scroll, and what of it the page keeps across reloads. Shared by the ruler, the lanes
// and the playhead; draws nothing.

export const LABEL_WIDTH = 150;
const MIN_MS_PER_PX = 0.25;
const STORE_KEY = 'editor.view';

export class View {
  constructor() {
    this.left = LABEL_WIDTH;    // first pixel column of the time area
    this.width = 800;           // css pixels of the whole canvas
    this.startMs = 0;           // time at the left edge of the time area
    this.msPerPx = 50;
    this.totalMs = 92000;       // the length of the time line
    this.rowsPerSecond = 24;
    this.rowsPerBeat = 8;
    this.beatsPerBar = 4;
  }

  setTimeline(timeline, musicMs) {
    this.rowsPerSecond = timeline.beats_per_minute / 60 * timeline.rows_per_beat;
    this.rowsPerBeat = timeline.rows_per_beat;
    this.beatsPerBar = timeline.beats_per_bar;
    this.totalMs = Math.max(musicMs || 0, this.msOfRow(timeline.last_row));
    this.clamp();
  }

  get timeWidth() { return Math.max(1, this.width - this.left); }
  get endMs() { return this.startMs + this.timeWidth * this.msPerPx; }
  get rowsPerBar() { return this.rowsPerBeat * this.beatsPerBar; }

  xOfMs(ms) { return this.left + (ms - this.startMs) / this.msPerPx; }
  msOfX(x) { return this.startMs + (x - this.left) * this.msPerPx; }
  rowOfMs(ms) { return ms * this.rowsPerSecond / 1000; }
  msOfRow(row) { return row * 1000 / this.rowsPerSecond; }
  // The whole millisecond of a row, as the player's loop and seek keys round it.
  wholeMsOfRow(row) { return Math.round(this.msOfRow(row)); }
  // The first whole millisecond that lies in the row: a seek there shows the row as the
  // current one everywhere (the clock, the read-outs, a key put "at the playhead").
  startMsOfRow(row) { return Math.ceil(this.msOfRow(row) - 1e-9); }
  // The row a time lies in (the clock's beat:row).
  rowAt(ms) { return Math.floor(this.rowOfMs(ms) + 1e-9); }

  zoomAt(x, factor) {
    const anchor = this.msOfX(x);
    const maxMsPerPx = this.totalMs / this.timeWidth;
    this.msPerPx = Math.min(Math.max(this.msPerPx * factor, MIN_MS_PER_PX), maxMsPerPx);
    this.startMs = anchor - (x - this.left) * this.msPerPx;
    this.clamp();
  }

  // Zoom about a time (the playhead), brought into view first when it is not.
  zoomAbout(ms, factor) {
    if (ms < this.startMs || ms > this.endMs) this.startMs = ms - this.timeWidth * this.msPerPx / 2;
    this.zoomAt(this.xOfMs(ms), factor);
  }

  // The stretch from one time to another fills the width, with a little room at both ends.
  frame(fromMs, toMs) {
    const span = Math.max(toMs - fromMs, this.msOfRow(this.rowsPerBeat));
    const margin = span * 0.08;
    this.msPerPx = Math.min(Math.max((span + 2 * margin) / this.timeWidth, MIN_MS_PER_PX), this.totalMs / this.timeWidth);
    this.startMs = (fromMs + toMs) / 2 - this.timeWidth * this.msPerPx / 2;
    this.clamp();
  }

  scrollBy(px) {
    this.startMs += px * this.msPerPx;
    this.clamp();
  }

  fit() {
    this.msPerPx = this.totalMs / this.timeWidth;
    this.startMs = 0;
  }

  // Keeps ms in view, placing it at the given share of the width when it is not.
  reveal(ms, share = 0.3) {
    if (ms >= this.startMs && ms <= this.endMs) return false;
    this.startMs = ms - share * this.timeWidth * this.msPerPx;
    this.clamp();
    return true;
  }

  clamp() {
    const span = this.timeWidth * this.msPerPx;
    const margin = span * 0.05;
    this.startMs = Math.min(Math.max(this.startMs, -margin), Math.max(-margin, this.totalMs - span + margin));
  }
}

// ---- what the page keeps across reloads ----
// {startMs, msPerPx, scrollY, laneHeight, follow, focused}; an entry that is not what the page
// wrote (another version's, edited by hand) is ignored field by field.
export function loadSettings() {
  try {
    const saved = JSON.parse(localStorage.getItem(STORE_KEY) || '{}');
    return saved && typeof saved === 'object' ? saved : {};
  } catch (err) {
    return {};
  }
}

export function saveSettings(settings) {
  try {
    localStorage.setItem(STORE_KEY, JSON.stringify(settings));
  } catch (err) {
    // A browser without storage (private mode, full): the view is simply not kept.
  }
}

export const finite = (x) => typeof x === 'number' && Number.isFinite(x);

export function formatTime(ms) {
  const sign = ms < 0 ? '-' : '';
  const whole = Math.abs(Math.round(ms));
  const minutes = Math.floor(whole / 60000);
  const seconds = Math.floor(whole / 1000) % 60;
  return `${sign}${minutes}:${String(seconds).padStart(2, '0')}.${String(whole % 1000).padStart(3, '0')}`;
}

// "BEAT:ROW" as the track source writes positions.
export function formatPosition(row, rowsPerBeat = 8) {
  const beat = Math.floor(row / rowsPerBeat);
  return `${beat}:${row - beat * rowsPerBeat}`;
}

// "+1:2", "-0:4": a distance in rows as a position.
export function formatOffset(rows, rowsPerBeat = 8) {
  return (rows < 0 ? '-' : '+') + formatPosition(Math.abs(rows), rowsPerBeat);
}

// The shortest decimal that reads back as the same 32-bit float (as the track source writes it).
export function formatValue(v) {
  if (!Number.isFinite(v)) return String(v);
  for (let digits = 1; digits <= 9; digits++) {
    const text = Number(v.toPrecision(digits));
    if (Math.fround(text) === Math.fround(v)) return String(text);
  }
  return String(v);
}
