// Exact entry: the box that takes a value and a position for the selected keys (opened by Enter
// or a double-click on a key), and the reading of what is typed there. Arithmetic is parsed
// here, never evaluated as script. The box only builds the move; the server decides on it.

import { formatPosition, formatValue } from './view.js';

// ---- reading what is typed ----
// A number or an expression of numbers with + - * / and parentheses; null when it is not one.
export function evaluate(text) {
  let at = 0;
  const s = text.replace(/\s+/g, '');
  const peek = () => s[at];
  const number = () => {
    const m = /^(\d+\.?\d*|\.\d+)(e[+-]?\d+)?/i.exec(s.slice(at));
    if (!m) return null;
    at += m[0].length;
    return Number(m[0]);
  };
  const factor = () => {
    if (peek() === '-' || peek() === '+') {
      const sign = s[at++] === '-' ? -1 : 1;
      const f = factor();
      return f === null ? null : sign * f;
    }
    if (peek() === '(') {
      at++;
      const e = expr();
      if (e === null || s[at++] !== ')') return null;
      return e;
    }
    return number();
  };
  const term = () => {
    let v = factor();
    while (v !== null && (peek() === '*' || peek() === '/')) {
      const op = s[at++];
      const f = factor();
      if (f === null) return null;
      v = op === '*' ? v * f : v / f;
    }
    return v;
  };
  const expr = () => {
    let v = term();
    while (v !== null && (peek() === '+' || peek() === '-')) {
      const op = s[at++];
      const t = term();
      if (t === null) return null;
      v = op === '+' ? v + t : v - t;
    }
    return v;
  };
  if (!s) return null;
  const v = expr();
  return v !== null && at === s.length && Number.isFinite(v) ? v : null;
}

// The value field: "0.75" or "1/3" sets every key to it; "+0.1", "*2", "/2" and "+=", "-=",
// "*=", "/=" change each key's own value ("-0.5" sets -0.5). Returns value => new value, or null.
export function valueChange(text) {
  const t = text.trim();
  const relative = /^([+*/]|[-+*/]=)/.exec(t);
  if (!relative) {
    const v = evaluate(t);
    return v === null ? null : () => v;
  }
  const op = relative[0][0];
  const operand = evaluate(t.slice(relative[0].length));
  if (operand === null) return null;
  // On the value as the source writes it, so 0.1375 + 0.1 is 0.2375 and not a float's tail.
  return (value) => {
    const v = Number(formatValue(value));
    const result = op === '+' ? v + operand : op === '-' ? v - operand : op === '*' ? v * operand : v / operand;
    return Number(result.toPrecision(12));
  };
}

// The position field: "12:4" (beat 12, row 4), "12" (12:0) or "r100" puts the earliest selected
// key there and the others at their distances from it; "+1:0", "-0:2" or "+3" (rows) move every
// key by that much. Returns {to} (a row) or {by} (rows), or null.
export function positionChange(text, rowsPerBeat = 8) {
  const t = text.replace(/\s+/g, '');
  let m = /^([+-])(\d+):(\d+)$/.exec(t);
  if (m && Number(m[3]) < rowsPerBeat) return { by: (m[1] === '-' ? -1 : 1) * (Number(m[2]) * rowsPerBeat + Number(m[3])) };
  if ((m = /^([+-])(\d+)$/.exec(t))) return { by: (m[1] === '-' ? -1 : 1) * Number(m[2]) };
  if ((m = /^(\d+):(\d+)$/.exec(t)) && Number(m[2]) < rowsPerBeat) return { to: Number(m[1]) * rowsPerBeat + Number(m[2]) };
  if ((m = /^(\d+)$/.exec(t))) return { to: Number(m[1]) * rowsPerBeat };
  if ((m = /^r(\d+)$/i.exec(t))) return { to: Number(m[1]) };
  return null;
}

// ---- the box ----
export class Entry {
  // box: the element holding the form; app: the page (its lanes, view and edit()).
  constructor(box, app) {
    this.box = box;
    this.app = app;
    this.value = box.querySelector('#entry-value');
    this.position = box.querySelector('#entry-position');
    this.message = box.querySelector('#entry-message');
    this.keys = [];
    for (const input of [this.value, this.position]) {
      input.addEventListener('keydown', (e) => {
        e.stopPropagation();
        if (e.key === 'Enter') {
          e.preventDefault();
          this.apply();
        } else if (e.key === 'Escape') {
          e.preventDefault();
          this.close();
        }
      });
    }
    // A press anywhere else closes it, as Escape does.
    window.addEventListener('pointerdown', (e) => {
      if (this.open && !box.contains(e.target)) this.close();
    }, true);
  }

  get open() { return !this.box.hidden; }

  // keys: [{track, row, value}] (the selection); at: {x, y} in the lanes box.
  show(keys, at) {
    if (keys.length === 0) return;
    this.keys = keys;
    const rowsPerBeat = this.app.view.rowsPerBeat;
    const values = new Set(keys.map((k) => k.value));
    this.value.value = values.size === 1 ? formatValue(keys[0].value) : '';
    this.value.placeholder = values.size === 1 ? '' : 'mixed: +0.1, *2, 0.5';
    const first = Math.min(...keys.map((k) => k.row));
    this.position.value = formatPosition(first, rowsPerBeat);
    this.message.textContent = keys.length === 1 ? `${keys[0].track}` : `${keys.length} keys`;
    this.message.classList.remove('error');
    this.box.hidden = false;
    const parent = this.box.parentElement.getBoundingClientRect();
    this.box.style.left = `${Math.max(0, Math.min(at.x + 12, parent.width - this.box.offsetWidth - 4))}px`;
    this.box.style.top = `${Math.max(0, Math.min(at.y + 12, parent.height - this.box.offsetHeight - 4))}px`;
    this.value.focus();
    this.value.select();
  }

  close() {
    if (this.box.hidden) return;
    this.box.hidden = true;
    if (this.box.contains(document.activeElement)) document.activeElement.blur();
  }

  refuse(text) {
    this.message.textContent = text;
    this.message.classList.add('error');
  }

  // The move every selected key makes; nothing is sent when neither field changes anything.
  apply() {
    const rowsPerBeat = this.app.view.rowsPerBeat;
    const valueText = this.value.value.trim();
    const change = valueText ? valueChange(valueText) : null;
    if (valueText && !change) return this.refuse(`"${valueText}" is not a number (0.75, 1/3) or a change (+0.1, *2, -=0.5)`);
    const positionText = this.position.value.trim();
    const first = Math.min(...this.keys.map((k) => k.row));
    const moveTo = positionText ? positionChange(positionText, rowsPerBeat) : { by: 0 };
    if (!moveTo) return this.refuse(`"${positionText}" is not a position (12:4, 12, r100) or a shift (+1:0, -0:2, +3)`);
    const by = moveTo.to !== undefined ? moveTo.to - first : moveTo.by;
    const keys = this.keys.map((k) => {
      const key = { track: k.track, row: k.row };
      if (by !== 0) key.to_row = k.row + by;
      if (change) key.value = change(k.value);
      return key;
    });
    if (keys.some((k) => k.value !== undefined && !Number.isFinite(k.value))) return this.refuse('that gives a value that is not a number');
    this.close();
    if (keys.every((k) => k.to_row === undefined && (k.value === undefined || Math.fround(k.value) === this.keys.find((s) => s.track === k.track && s.row === k.row).value))) return;
    this.app.moveKeys(keys);
  }
}
