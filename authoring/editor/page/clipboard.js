// Copy, cut, paste and duplicate of keys: what is kept (the keys with their tracks, rows, values
// and interpolations, in this page and in the browser's storage, so another page of the editor
// can paste it) and the edit requests that put keys elsewhere. A pasted key on a row that has a
// key replaces it; the server says how many it replaced. Never sends anything itself.

import { INTERPOLATIONS } from './curve.js';

const STORE_KEY = 'editor.clipboard';

// keys: [{track, row, value, kind}]
export function copyKeys(keys) {
  const clip = { keys: keys.map(({ track, row, value, kind }) => ({ track, row, value, kind })) };
  try {
    localStorage.setItem(STORE_KEY, JSON.stringify(clip));
  } catch (err) {
    // Without storage the copy lives in this page alone.
  }
  return clip;
}

export function storedClip() {
  try {
    const clip = JSON.parse(localStorage.getItem(STORE_KEY) || 'null');
    if (clip && Array.isArray(clip.keys) && clip.keys.length) return clip;
  } catch (err) {
    // Nothing usable kept.
  }
  return null;
}

// The keys of clip with their first row at `row`, keeping the distances between them, on
// their own tracks, or all on `onto` when the clip holds keys of one track alone.
// op: 'paste' or 'duplicate'.
export function placeKeys(clip, row, onto, op = 'paste') {
  const first = Math.min(...clip.keys.map((k) => k.row));
  const tracks = new Set(clip.keys.map((k) => k.track));
  const retarget = onto && tracks.size === 1;
  return {
    op,
    keys: clip.keys.map((k) => ({
      track: retarget ? onto : k.track,
      row: k.row - first + row,
      value: k.value,
      interpolation: INTERPOLATIONS[k.kind] || 'linear',
    })),
  };
}

// Where a duplicate of keys goes: right after them, at the next whole beat past their span.
export function duplicateRow(keys, rowsPerBeat) {
  const first = Math.min(...keys.map((k) => k.row)), last = Math.max(...keys.map((k) => k.row));
  return first + Math.ceil((last - first + 1) / rowsPerBeat) * rowsPerBeat;
}
