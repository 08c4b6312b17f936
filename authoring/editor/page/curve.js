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
    else {
      // Of several keys on one row the last one holds from that row on.
      let last = mid;
      while (last + 1 < keys.length && keys[last + 1][0] === row) last++;
      return last;
    }
  }
  return lo - 1;
}

// The track's value at a fractional row, in double precision like the player's.
export function valueAt(keys, row) {
  if (keys.length === 0) return 0;
  // Before the first key (NaN included): rows below the 32-bit range are pinned to its lowest
  // row, where a first key may sit, so this is not left to the search.
  if (!(row >= keys[0][0])) return keys[0][1];
  const i = findKey(keys, rowIndex(row));
  if (i < 0) return keys[0][1];
  if (i > keys.length - 2) return keys[keys.length - 1][1];
  const [row0, value0, kind] = keys[i];
  const [row1, value1] = keys[i + 1];
  const span = row1 - row0;
  // Keys out of order make no segment: the key holds.
  if (span <= 0) return value0;
  const t = (row - row0) / span;
  // The value difference is a single-precision subtraction, the rest double; only two values
  // more than the float range apart need the double difference.
  const single = Math.fround(value1 - value0);
  const d = Number.isFinite(single) ? single : value1 - value0;
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

// The value just before a key: where the segment that ends there arrives (a step holds the
// earlier key's value, an unknown interpolation gives 0, the others meet the key).
function arrival(keys, k) {
  const [, value0, kind] = keys[k - 1];
  if (kind === STEP) return value0;
  if (kind === LINEAR || kind === SMOOTH || kind === QUADRATIC) return keys[k][1];
  return 0;
}

// The curve over the visible time: per pixel column the value at its start and, where keys
// fall inside the column, the lowest and highest value the column passes (every interpolation
// runs monotonically from key to key, so keys and segment ends hold the extremes). Zoomed out,
// a spike narrower than a pixel still shows. Then the key handles, when they are far enough
// apart to be told from each other; selected(row) tells which are selected.
export function drawCurve(ctx, keys, view, lane, colors, selected) {
  const left = view.left, right = view.width;
  ctx.strokeStyle = colors.curve;
  ctx.lineWidth = 1;
  ctx.beginPath();
  let k = Math.max(0, findKey(keys, Math.floor(view.rowOfMs(view.msOfX(left)))) + 1);
  for (let x = left; x <= right; x += 1) {
    const rowStart = view.rowOfMs(view.msOfX(x)), rowEnd = view.rowOfMs(view.msOfX(x + 1));
    const start = valueAt(keys, rowStart);
    let lo = start, hi = start;
    while (k < keys.length && keys[k][0] <= rowStart) k++;
    for (; k < keys.length && keys[k][0] < rowEnd; k++) {
      const before = k > 0 ? arrival(keys, k) : keys[k][1];
      lo = Math.min(lo, before, keys[k][1]);
      hi = Math.max(hi, before, keys[k][1]);
    }
    const y = yOfValue(lane, start);
    if (x === left) ctx.moveTo(x, y); else ctx.lineTo(x, y);
    if (lo !== hi) {
      ctx.lineTo(x, yOfValue(lane, lo));
      ctx.lineTo(x, yOfValue(lane, hi));
      ctx.lineTo(x, y);
    }
  }
  ctx.stroke();

  const first = Math.max(0, findKey(keys, Math.floor(view.rowOfMs(view.msOfX(left)))));
  const last = Math.min(keys.length - 1, findKey(keys, Math.ceil(view.rowOfMs(view.msOfX(right)))) + 1);
  const crowded = (last - first + 1) * MIN_HANDLE_GAP > right - left;
  const plain = new Path2D(), marked = new Path2D();
  for (let i = first; i <= last; i++) {
    const isSelected = selected(keys[i][0]);
    if (crowded && !isSelected) continue;
    const x = view.xOfMs(view.msOfRow(keys[i][0]));
    if (x > right + HANDLE_RADIUS || x < left - HANDLE_RADIUS) continue;
    const y = yOfValue(lane, keys[i][1]);
    const path = isSelected ? marked : plain;
    const r = isSelected ? HANDLE_RADIUS + 1 : HANDLE_RADIUS;
    path.moveTo(x + r, y);
    path.arc(x, y, r, 0, 2 * Math.PI);
  }
  ctx.lineWidth = 1;
  ctx.strokeStyle = colors.background;
  for (const [path, color] of [[plain, colors.key], [marked, colors.selected]]) {
    ctx.fillStyle = color;
    ctx.fill(path);
    ctx.stroke(path);
  }
}

// Handles closer than this (on average, in pixels) are left out: the curve shows the keys.
const MIN_HANDLE_GAP = 6;
