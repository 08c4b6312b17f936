// The editor page: the state pushed by the player, the playhead moving at the display's frame
// rate between pushes, the keys, the buttons, and one change at a time sent to the player.
// Views draw (ruler.js, lanes.js, curve.js, history.js); this file only connects them.

import { Connection } from './connection.js';
import { INTERPOLATIONS, keysFromJson, yOfValue } from './curve.js';
import { History } from './history.js';
import { Lanes } from './lanes.js';
import { decodePeaks, Ruler } from './ruler.js';
import { formatPosition, formatTime, View } from './view.js';

const COLORS = {
  background: '#1d1f22', panel: '#26292d', line: '#3a3e44', text: '#d8dadd', dim: '#8a9099',
  laneAlt: 'rgba(255,255,255,0.025)', zero: 'rgba(255,255,255,0.12)',
  bar: 'rgba(255,255,255,0.16)', beat: 'rgba(255,255,255,0.07)', row: 'rgba(255,255,255,0.03)',
  sectionA: '#34404d', sectionB: '#3d3548', wave: '#5f7f8f', loop: 'rgba(240,176,64,0.10)',
  afterEnd: 'rgba(0,0,0,0.35)', curve: '#9fd0ff', key: '#6fb3ff', selected: '#ffd166', playhead: '#f0b040',
};

const $ = (id) => document.getElementById(id);
// How often a change refused while the source is being written is sent again (each after the
// wait the player names, half a second or so) before the page gives up and says why.
const SETTLE_TRIES = 120;

class App {
  constructor() {
    this.connection = new Connection(new URLSearchParams(location.search).get('token') || '');
    this.view = new View();
    this.state = null;
    this.peaks = null;
    this.player = { music_ms: 0, paused: true, loop_on: false, loop_start_ms: 0, loop_end_ms: 0 };
    this.playerAt = performance.now();
    this.dirty = true;
    this.follow = false;
    this.changes = Promise.resolve();   // one change at a time, in order
    this.awaitedVersion = 0;            // the version the last change made, until its state arrives
    this.versionWaiters = [];
    this.seekInFlight = false;
    this.pendingSeek = null;
    this.loopMarks = { start: null, end: null };
    this.clockText = '';
    this.lost = false;

    this.canvases = { ruler: $('ruler'), lanes: $('lanes'), overlay: $('overlay') };
    this.ruler = new Ruler(this.canvases.ruler, this);
    this.lanes = new Lanes(this.canvases.lanes, $('labels'), this);
    this.history = new History($('undo-list'), $('redo-list'), $('undo'), $('redo'));
    new ResizeObserver(() => this.resize()).observe($('timeline'));
    this.resize();
    this.bindInput();
    requestAnimationFrame((t) => this.frame(t));
  }

  start() {
    this.connection.listen({
      state: (s) => this.applyState(s),
      player: (p) => this.applyPlayer(p),
      notice: (n) => this.notice(n.text, n.error),
      lost: (kind, text) => this.connectionLost(kind, text),
      back: () => this.connectionBack(),
    });
    this.connection.get('peaks').then((json) => {
      this.peaks = decodePeaks(json);
      if (this.state) this.view.setTimeline(this.state.timeline, this.peaks.music_ms);
      this.redraw();
    }).catch(() => { this.peaks = { error: 'no waveform' }; });
  }

  // ---- state from the player ----
  applyState(state) {
    for (const t of state.tracks) t.keys = keysFromJson(t.keys);
    const first = !this.state;
    this.state = state;
    this.view.setTimeline(state.timeline, this.peaks && this.peaks.music_ms);
    if (first) this.view.fit();
    this.applyPlayer(state.player);
    this.lanes.setTracks(state.tracks, state.version);
    this.history.show(state.history);
    if (!state.source.ok) {
      const p = state.source.problems[0];
      this.notice(`${state.source.path}:${p.line}:${p.column}: ${p.message}. The show keeps the last good tracks; ` +
        'changes wait until the text is corrected.', true, true);
    } else if (this.sourceProblemShown) {
      this.notice('');
    }
    this.versionWaiters = this.versionWaiters.filter((w) => (state.version >= w.version ? (w.resolve(), false) : true));
    this.redraw();
  }

  applyPlayer(player) {
    this.player = player;
    this.playerAt = performance.now();
    if (player.loop_on) this.loopMarks = { start: player.loop_start_ms, end: player.loop_end_ms };
    $('play').textContent = player.paused ? 'Play' : 'Pause';
    this.redraw();
  }

  // The player's time now: the last pushed time moved on by the page's own clock while playing.
  nowMs() {
    const p = this.player;
    if (p.paused) return p.music_ms;
    let ms = p.music_ms + (performance.now() - this.playerAt);
    if (p.loop_on && p.loop_end_ms > p.loop_start_ms && p.music_ms < p.loop_end_ms && ms >= p.loop_end_ms) {
      ms = p.loop_start_ms + ((ms - p.loop_start_ms) % (p.loop_end_ms - p.loop_start_ms));
    }
    const end = this.state ? this.state.timeline.show_end_ms : Infinity;
    return Math.min(ms, Math.max(end, p.music_ms));
  }

  // ---- changes (edits, undo, redo): one at a time, each on the version the page shows ----
  change(verb, body) {
    const run = async () => {
      await this.waitForVersion(this.awaitedVersion);
      if (!this.state) return null;
      // While another program writes the source the player refuses the change; it is sent
      // again, on the version it was made on, once the file should have settled.
      const version = this.state.version;
      let res = await this.connection.post(verb, { ...body, version });
      for (let tries = 1; res.status === 503 && res.body.settling && tries < SETTLE_TRIES; tries++) {
        this.notice(`${res.body.error}; trying again...`, true);
        await new Promise((resolve) => setTimeout(resolve, res.body.retry_ms));
        res = await this.connection.post(verb, { ...body, version });
      }
      return this.answered(res);
    };
    const result = this.changes.then(run, run);
    this.changes = result.catch(() => null);
    return result;
  }

  edit(body) { return this.change('edit', body); }

  answered(res) {
    if (res.status === 200) {
      if (res.body.changed) this.awaitedVersion = res.body.version;
      if (!this.lost && !(this.state && !this.state.source.ok)) this.notice('');
      return res.body.version;
    }
    if (res.status === 401) this.connectionLost('restarted');
    else if (res.status === 409) {
      this.notice(`${res.body.error}: the change was not made.`, true);
      this.connection.get('state').then((s) => this.applyState(s)).catch(() => {});
    } else {
      this.notice(res.body.error || `refused (${res.status})`, true);
    }
    return null;
  }

  waitForVersion(version) {
    if (!this.state || this.state.version >= version) return Promise.resolve();
    return new Promise((resolve) => {
      this.versionWaiters.push({ version, resolve });
      setTimeout(resolve, 2000);
    });
  }

  deleteSelected() {
    const keys = this.lanes.selectedKeys();
    if (keys.length) this.edit({ op: 'delete', keys });
  }

  setInterpolation(name) {
    const keys = this.lanes.selectedKeys();
    if (keys.length) this.edit({ op: 'interpolation', interpolation: name, keys });
  }

  // ---- the player ----
  seek(ms) {
    this.player = { ...this.player, music_ms: ms };
    this.playerAt = performance.now();
    this.pendingSeek = ms;
    this.redraw();
    if (this.seekInFlight) return;
    const send = async () => {
      this.seekInFlight = true;
      while (this.pendingSeek !== null) {
        const target = this.pendingSeek;
        this.pendingSeek = null;
        const res = await this.connection.post('seek', { ms: target });
        if (res.status === 401) this.connectionLost('restarted');
      }
      this.seekInFlight = false;
    };
    send();
  }

  togglePause() {
    const ms = this.nowMs();
    this.player = { ...this.player, music_ms: Math.round(ms), paused: !this.player.paused };
    this.playerAt = performance.now();
    $('play').textContent = this.player.paused ? 'Play' : 'Pause';
    this.connection.post('pause', { toggle: true }).then((res) => { if (res.status === 401) this.connectionLost('restarted'); });
  }

  // "[" and "]": loop marks at the playhead, rounded to the row as the player's own keys do.
  markLoop(which) {
    const view = this.view;
    this.loopMarks[which] = view.wholeMsOfRow(Math.round(view.rowOfMs(this.nowMs())));
    const { start, end } = this.loopMarks;
    if (start !== null && end !== null && end > start) {
      this.connection.post('loop', { start_ms: start, end_ms: end });
    } else {
      this.notice(`loop ${which} at ${formatTime(this.loopMarks[which])}; now set the loop ${which === 'start' ? 'end (])' : 'start ([)'}`);
    }
  }

  clearLoop() {
    this.loopMarks = { start: null, end: null };
    this.connection.post('loop', { start_ms: 0, end_ms: 0 });
  }

  // ---- page furniture ----
  notice(text, error = false, sticky = false) {
    const box = $('notice');
    clearTimeout(this.noticeTimer);
    this.sourceProblemShown = sticky;
    box.hidden = !text;
    box.textContent = text;
    box.className = error ? 'error' : '';
    if (text && !error && !sticky) this.noticeTimer = setTimeout(() => { box.hidden = true; }, 5000);
  }

  setReadout(text) { $('readout').textContent = text; }

  connectionLost(kind, text = '') {
    switch (kind) {
      case 'restarted':
        this.lost = true;
        this.notice('The player was restarted, with a new token: open the address it printed.', true, true);
        break;
      case 'gone':
        this.lost = true;
        this.notice('The player does not answer: it has ended. When it runs again, open the address it prints.', true, true);
        break;
      case 'replaced':
        this.notice(text, true, true);
        break;
      case 'busy':
        this.notice(`The player refused this page's updates: ${text}.`, true, true);
        break;
      default:
        if (!this.lost) this.notice('The connection to the player dropped; reconnecting...', true, true);
    }
  }

  connectionBack() {
    if (!this.lost) this.notice('');
  }

  redraw() { this.dirty = true; }

  resize() {
    const dpr = window.devicePixelRatio || 1;
    for (const canvas of Object.values(this.canvases)) {
      canvas.width = Math.round(canvas.clientWidth * dpr);
      canvas.height = Math.round(canvas.clientHeight * dpr);
      canvas.getContext('2d').setTransform(dpr, 0, 0, dpr, 0, 0);
    }
    this.view.width = this.canvases.ruler.clientWidth;
    this.view.clamp();
    this.lanes.clampScroll();
    this.lanes.placeLabels();
    this.redraw();
  }

  // ---- every frame ----
  frame() {
    const ms = this.nowMs();
    if (this.follow && !this.player.paused && this.state) {
      const before = this.view.startMs;
      this.view.startMs = ms - 0.3 * this.view.timeWidth * this.view.msPerPx;
      this.view.clamp();
      if (this.view.startMs !== before) this.dirty = true;
    }
    if (this.dirty) {
      this.dirty = false;
      this.ruler.draw(this.canvases.ruler.getContext('2d'), this.state, this.peaks, COLORS);
      this.lanes.draw(this.canvases.lanes.getContext('2d'), COLORS);
    }
    this.drawPlayhead(ms);
    requestAnimationFrame((t) => this.frame(t));
  }

  drawPlayhead(ms) {
    const canvas = this.canvases.overlay;
    const ctx = canvas.getContext('2d');
    ctx.clearRect(0, 0, canvas.clientWidth, canvas.clientHeight);
    const x = Math.round(this.view.xOfMs(ms)) + 0.5;
    if (x >= this.view.left && x <= this.view.width) {
      ctx.strokeStyle = COLORS.playhead;
      ctx.lineWidth = 1;
      ctx.beginPath();
      ctx.moveTo(x, 0);
      ctx.lineTo(x, canvas.clientHeight);
      ctx.stroke();
    }
    const text = formatTime(ms);
    if (text !== this.clockText) {
      this.clockText = text;
      $('clock').textContent = text;
      $('clock-beat').textContent = formatPosition(Math.floor(this.view.rowOfMs(ms)), this.view.rowsPerBeat);
    }
  }

  // ---- input ----
  bindInput() {
    $('play').addEventListener('click', () => this.togglePause());
    $('loop-start').addEventListener('click', () => this.markLoop('start'));
    $('loop-end').addEventListener('click', () => this.markLoop('end'));
    $('loop-clear').addEventListener('click', () => this.clearLoop());
    $('undo').addEventListener('click', () => this.change('undo', {}));
    $('redo').addEventListener('click', () => this.change('redo', {}));
    $('delete').addEventListener('click', () => this.deleteSelected());
    $('interpolation').addEventListener('change', (e) => {
      this.setInterpolation(e.target.value);
      e.target.value = '';
    });
    $('add-track').addEventListener('click', () => this.addTrack());
    $('new-track').addEventListener('keydown', (e) => { if (e.key === 'Enter') this.addTrack(); });
    $('follow').addEventListener('change', (e) => { this.follow = e.target.checked; });
    $('timeline').addEventListener('wheel', (e) => this.wheel(e), { passive: false });
    // A clicked button or list gives the keys back to the page, so Space does not press it again.
    for (const control of document.querySelectorAll('#toolbar button, #toolbar select, #follow')) {
      control.addEventListener(control.tagName === 'SELECT' ? 'change' : 'click', () => control.blur());
    }
    window.addEventListener('keydown', (e) => this.key(e));
  }

  async addTrack() {
    const input = $('new-track');
    const name = input.value.trim();
    if (name && await this.edit({ op: 'add_track', name })) input.value = '';
  }

  wheel(e) {
    e.preventDefault();
    const rect = this.canvases.ruler.getBoundingClientRect();
    const x = e.clientX - rect.left;
    const overRuler = e.clientY - rect.top < this.canvases.ruler.clientHeight;
    const unit = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1;
    const dx = e.deltaX * unit, dy = e.deltaY * unit;
    if (e.ctrlKey || e.metaKey || (overRuler && !e.shiftKey && Math.abs(dy) >= Math.abs(dx))) {
      this.view.zoomAt(Math.max(x, this.view.left), Math.exp(dy * 0.002));
    } else if (e.shiftKey || Math.abs(dx) > Math.abs(dy)) {
      this.view.scrollBy(e.shiftKey ? dy || dx : dx);
    } else {
      this.lanes.scrollBy(dy);
    }
    this.redraw();
  }

  key(e) {
    const target = e.target;
    if (target instanceof HTMLInputElement || target instanceof HTMLSelectElement) return;
    const ctrl = e.ctrlKey || e.metaKey;
    const view = this.view;
    let handled = true;
    if (ctrl && (e.key === 'z' || e.key === 'Z')) this.change(e.shiftKey ? 'redo' : 'undo', {});
    else if (ctrl && (e.key === 'y' || e.key === 'Y')) this.change('redo', {});
    else if (ctrl) handled = false;
    else if (e.key === ' ') this.togglePause();
    else if (e.key === 'Delete' || e.key === 'Backspace') this.deleteSelected();
    else if (e.key >= '1' && e.key <= '4') this.setInterpolation(INTERPOLATIONS[Number(e.key) - 1]);
    else if (e.key === '+' || e.key === '=') view.zoomAt(view.left + view.timeWidth / 2, 1 / 1.5);
    else if (e.key === '-') view.zoomAt(view.left + view.timeWidth / 2, 1.5);
    else if (e.key === '0') view.fit();
    else if (e.key === 'ArrowLeft' || e.key === 'ArrowRight') {
      view.scrollBy((e.key === 'ArrowLeft' ? -1 : 1) * view.timeWidth * (e.shiftKey ? 0.9 : 0.125));
    } else if (e.key === 'ArrowUp' || e.key === 'ArrowDown') this.lanes.scrollBy(e.key === 'ArrowUp' ? -64 : 64);
    else if (e.key === 'Home') { view.startMs = -Infinity; view.clamp(); }
    else if (e.key === 'End') { view.startMs = Infinity; view.clamp(); }
    else if (e.key === '[') this.markLoop('start');
    else if (e.key === ']') this.markLoop('end');
    else if (e.key === '\\') this.clearLoop();
    else if (e.key === 'f' || e.key === 'F') { this.follow = !this.follow; $('follow').checked = this.follow; }
    else if (e.key === 'Escape') this.lanes.selection.clear();
    else handled = false;
    if (handled) {
      e.preventDefault();
      this.redraw();
    }
  }
}

const app = new App();
app.start();

// For the browser console and the browser tests: where things are on the screen.
window.editor = {
  state: () => app.state,
  player: () => ({ ...app.player, now_ms: app.nowMs() }),
  trackNames: () => app.lanes.tracks.map((t) => t.name),
  selection: () => app.lanes.selectedKeys(),
  // The centre of a key's handle in client coordinates; null when it is not on screen.
  keyPosition(track, row) {
    const i = app.lanes.trackIndex(track);
    if (i < 0) return null;
    const key = app.lanes.tracks[i].keys.find((k) => k[0] === row);
    if (!key) return null;
    const rect = app.canvases.lanes.getBoundingClientRect();
    const x = app.view.xOfMs(app.view.msOfRow(row));
    const y = yOfValue(app.lanes.laneRect(i), key[1]);
    if (x < app.view.left || x > app.view.width || y < 0 || y > rect.height) return null;
    return { x: rect.left + x, y: rect.top + y };
  },
  // The client x of a time on the ruler, and a y inside the ruler.
  rulerPosition(ms) {
    const rect = app.canvases.ruler.getBoundingClientRect();
    return { x: rect.left + app.view.xOfMs(ms), y: rect.top + rect.height / 2 };
  },
  pixelsPerRow: () => app.view.xOfMs(app.view.msOfRow(1)) - app.view.xOfMs(0),
  zoomToRows(firstRow, lastRow) {
    app.view.msPerPx = (app.view.msOfRow(lastRow) - app.view.msOfRow(firstRow)) / app.view.timeWidth;
    app.view.startMs = app.view.msOfRow(firstRow);
    app.view.clamp();
    app.redraw();
  },
};
