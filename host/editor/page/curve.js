// The value of a track at a row, computed exactly as the player computes it (the same key
// search, the same four interpolations, the same order of operations and precision), and the
// drawing of a track's curve and keys into a lane. A browser test holds these formulas
// against the player's own. Keys are [row, value, interpolation] with value a 32-bit float.

export const STEP = 0, LINEAR = 1, SMOOTH = 2, QUADRATIC = 3;
export const INTERPOLATIONS = ['step', 'linear', 'smooth', 'quadratic'];

const INT32_MAX = 2147483647, INT32_MIN = -2147483648;

// floor(row) as a 32-bit row; beyond the range (and NaN) pinned to its ends.
function rowIndex(row) {
  const whole = Math.floor(row);
  if (whole >= INT32_MAX) return INT32_MAX;
  if (whole > INT32_MIN) return whole;
  return INT32_MIN;
}

// Index of the key at row, or of the last key below it; -1 before the first key.
export function findKey(keys, row) {
  let lo = 0, hi = keys.length;
  while (lo < hi) {
    const mid = lo + ((hi - lo) >> 1);
    const at = keys[mid][0];
    if (at < row) lo = mid + 1;
    else if (at > row) hi = mid;
    else return mid;
  }
  return lo - 1;
}

// The track's value at a fractional row, in double precision like the player's.
export function valueAt(keys, row) {
  if (keys.length === 0) return 0;
  const i = findKey(keys, rowIndex(row));
  if (i < 0) return keys[0][1];
  if (i > keys.length - 2) return keys[keys.length - 1][1];
  const [row0, value0, kind] = keys[i];
  const [row1, value1] = keys[i + 1];
  const t = (row - row0) / (row1 - row0);
  // The value difference is a single-precision subtraction; the rest is double.
  const d = Math.fround(value1 - value0);
  switch (kind) {
    case STEP: return value0;
    case LINEAR: return value0 + d * t;
    case SMOOTH: return value0 + d * (3 - 2 * t) * (t * t);
    case QUADRATIC: return value0 + d * (t * t);
    default: return 0;
  }
}

// What a module reads at a whole millisecond: the row is ms * rows per second / 1000, the
// result rounded to a 32-bit float.
export function getValue(keys, ms, rowsPerSecond = 24) {
  return Math.fround(valueAt(keys, ms * rowsPerSecond / 1000));
}

// Keys from the server's JSON: values become the 32-bit floats the track files hold.
export function keysFromJson(list) {
  return list.map(([row, value, kind]) => [row, Math.fround(value), kind]);
}

// ---- drawing ----
// lane: {top, height, lo, hi}; y of a value inside it (lo at the bottom).
export function yOfValue(lane, value) {
  const inner = lane.height - 2 * LANE_PAD;
  return lane.top + LANE_PAD + (1 - (value - lane.lo) / (lane.hi - lane.lo)) * inner;
}
export function valueOfY(lane, y) {
  const inner = lane.height - 2 * LANE_PAD;
  return lane.lo + (1 - (y - lane.top - LANE_PAD) / inner) * (lane.hi - lane.lo);
}
export const LANE_PAD = 8;
export const HANDLE_RADIUS = 4;

// The curve sampled at every pixel column of the visible time, then the key handles.
// selected(row) tells which keys are drawn as selected.
export function drawCurve(ctx, keys, view, lane, colors, selected) {
  const left = view.left, right = view.width;
  ctx.strokeStyle = colors.curve;
  ctx.lineWidth = 1.5;
  ctx.beginPath();
  for (let x = left; x <= right; x += 1) {
    const y = yOfValue(lane, valueAt(keys, view.rowOfMs(view.msOfX(x))));
    if (x === left) ctx.moveTo(x, y); else ctx.lineTo(x, y);
  }
  ctx.stroke();

  const first = Math.max(0, findKey(keys, Math.floor(view.rowOfMs(view.msOfX(left)))));
  for (let i = first; i < keys.length; i++) {
    const x = view.xOfMs(view.msOfRow(keys[i][0]));
    if (x > right + HANDLE_RADIUS) break;
    if (x < left - HANDLE_RADIUS) continue;
    const y = yOfValue(lane, keys[i][1]);
    const isSelected = selected(keys[i][0]);
    ctx.fillStyle = isSelected ? colors.selected : colors.key;
    ctx.strokeStyle = colors.background;
    ctx.lineWidth = 1;
    ctx.beginPath();
    ctx.arc(x, y, isSelected ? HANDLE_RADIUS + 1 : HANDLE_RADIUS, 0, 2 * Math.PI);
    ctx.fill();
    ctx.stroke();
  }
}
