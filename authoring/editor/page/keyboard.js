// The page's keys, as one table: which key does what, its words for the help at the side, and
// the action on the page (methods of main.js's App). The playhead's keys are the player's own
// (a beat, Shift a bar, Page Up/Down eight bars, Home the start), on the row grid.

const ctrlOf = (e) => e.ctrlKey || e.metaKey;
const plain = (e) => !ctrlOf(e) && !e.altKey;
const key = (e, ...names) => names.includes(e.key);

export const BINDINGS = [
  { keys: 'Space', does: 'pause / play', test: (e) => plain(e) && key(e, ' '), act: (a) => a.togglePause() },
  { keys: '\u2190 \u2192', does: 'playhead a beat back / on (Shift: a bar)', test: (e) => plain(e) && key(e, 'ArrowLeft', 'ArrowRight'),
    act: (a, e) => a.stepRows((e.key === 'ArrowLeft' ? -1 : 1) * (e.shiftKey ? a.view.rowsPerBar : a.view.rowsPerBeat)) },
  { keys: ', .', does: 'playhead a row back / on', test: (e) => plain(e) && key(e, ',', '.'),
    act: (a, e) => a.stepRows(e.key === ',' ? -1 : 1) },
  { keys: 'Page Up / Down', does: 'playhead eight bars back / on', test: (e) => plain(e) && key(e, 'PageUp', 'PageDown'),
    act: (a, e) => a.stepRows((e.key === 'PageUp' ? -8 : 8) * a.view.rowsPerBar) },
  { keys: 'Home / End', does: 'playhead to the start / the end', test: (e) => plain(e) && key(e, 'Home', 'End'),
    act: (a, e) => a.playheadToEnd(e.key === 'End') },
  { keys: 'Ctrl+\u2190 \u2192', does: 'playhead to the previous / next key (of the focused track)',
    test: (e) => ctrlOf(e) && !e.altKey && key(e, 'ArrowLeft', 'ArrowRight'), act: (a, e) => a.stepKey(e.key === 'ArrowLeft' ? -1 : 1) },
  { keys: '\u2191 \u2193', does: 'focus the track above / below', test: (e) => plain(e) && key(e, 'ArrowUp', 'ArrowDown'),
    act: (a, e) => a.lanes.focusStep(e.key === 'ArrowUp' ? -1 : 1) },
  { keys: 'I, Insert', does: 'a key at the playhead on the focused track, on its curve', test: (e) => plain(e) && key(e, 'i', 'I', 'Insert'),
    act: (a) => a.insertAtPlayhead() },
  { keys: 'Enter', does: 'type a value or position for the selected keys (+0.1, *2, 1:4, +0:2)', test: (e) => plain(e) && key(e, 'Enter'),
    act: (a) => a.openEntry() },
  { keys: 'Delete', does: 'delete the selected keys', test: (e) => plain(e) && !e.shiftKey && key(e, 'Delete', 'Backspace'),
    act: (a) => a.deleteSelected() },
  { keys: 'Shift+Delete', does: 'delete the focused track', test: (e) => plain(e) && e.shiftKey && key(e, 'Delete', 'Backspace'),
    act: (a) => a.deleteTrack(a.lanes.focused) },
  { keys: '1 2 3 4', does: 'step, linear, smooth, quadratic', test: (e) => plain(e) && key(e, '1', '2', '3', '4'),
    act: (a, e) => a.setInterpolation(['step', 'linear', 'smooth', 'quadratic'][Number(e.key) - 1]) },
  { keys: 'Ctrl+A', does: 'select every key', test: (e) => ctrlOf(e) && key(e, 'a', 'A'), act: (a) => a.lanes.selectAll() },
  { keys: 'Ctrl+C, X, V', does: 'copy, cut, paste at the playhead (onto what is there)', test: (e) => ctrlOf(e) && key(e, 'c', 'C', 'x', 'X', 'v', 'V'),
    act: (a, e) => ({ c: () => a.copy(), x: () => a.cut(), v: () => a.paste() })[e.key.toLowerCase()]() },
  { keys: 'Ctrl+D', does: 'duplicate the selected keys after them', test: (e) => ctrlOf(e) && key(e, 'd', 'D'), act: (a) => a.duplicate() },
  { keys: 'Ctrl+Z', does: 'undo (Ctrl+Shift+Z, Ctrl+Y: redo)', test: (e) => ctrlOf(e) && key(e, 'z', 'Z', 'y', 'Y'),
    act: (a, e) => a.change(e.shiftKey || e.key === 'y' || e.key === 'Y' ? 'redo' : 'undo', {}) },
  { keys: '+ -', does: 'zoom in / out about the playhead', test: (e) => plain(e) && key(e, '+', '=', '-'),
    act: (a, e) => a.view.zoomAbout(a.nowMs(), e.key === '-' ? 1.5 : 1 / 1.5) },
  { keys: '0', does: 'the whole show', test: (e) => plain(e) && key(e, '0'), act: (a) => a.view.fit() },
  { keys: 'Z', does: 'frame the selection (Shift+Z, or no selection: the loop)', test: (e) => plain(e) && key(e, 'z', 'Z'),
    act: (a, e) => a.frameSelection(e.shiftKey) },
  { keys: '[ ] \\', does: 'loop start, loop end at the playhead; no loop', test: (e) => plain(e) && key(e, '[', ']', '\\'),
    act: (a, e) => (e.key === '\\' ? a.clearLoop() : a.markLoop(e.key === '[' ? 'start' : 'end')) },
  { keys: 'F', does: 'follow the playhead', test: (e) => plain(e) && key(e, 'f', 'F'), act: (a) => a.toggleFollow() },
  { keys: 'Escape', does: 'cancel a drag, close a box, clear the selection', test: (e) => key(e, 'Escape'), act: (a) => a.escape() },
];

// The mouse, for the help beside the keys.
export const MOUSE = [
  ['click, Shift+click', 'select a key, add one'],
  ['drag a lane', 'select the keys in the band'],
  ['drag a key', 'move the selection, live in the show; along the direction it starts in until you stray 8 px off it; Shift rounds, Alt fine, Ctrl copies'],
  ['double-click', 'a key: type its value; a lane: add a key'],
  ['right-click', 'the menu of the selection'],
  ['click a name', 'select its keys; drag it to reorder; double-click to rename; \u00d7 deletes'],
  ['ruler', 'seek, on the grid (Shift: anywhere)'],
  ['wheel', 'scroll; Shift: time; Ctrl or over the ruler: zoom'],
];

// The binding for a key press, or null.
export function bindingFor(e) {
  return BINDINGS.find((b) => b.test(e)) || null;
}

export function helpRows() {
  return [...BINDINGS.map((b) => [b.keys, b.does]), ...MOUSE];
}
