// The editor page: the state pushed by the player, the playhead moving at the display's frame
// rate between pushes, the keys, the buttons, and one change at a time sent to the player;
// while keys are dragged, their preview to the show. Views draw (ruler.js, lanes.js, curve.js,
// history.js, entry.js); keyboard.js says which key does what; this file connects them.
//
// [SECTION] state from the player   [SECTION] changes   [SECTION] previews   [SECTION] the player
// [SECTION] keys and clipboard   [SECTION] page furniture   [SECTION] every frame   [SECTION] input

import { copyKeys, duplicateRow, placeKeys, storedClip } from './clipboard.js';
import { Connection } from './connection.js';
import { INTERPOLATIONS, keysFromJson, yOfValue } from './curve.js';
import { Entry } from './entry.js';
import { History } from './history.js';
import { bindingFor, helpRows } from './keyboard.js';
import { Lanes, LANE_H } from './lanes.js';
import { decodePeaks, Ruler } from './ruler.js';
import { finite, formatPosition, formatTime, formatValue, loadSettings, saveSettings, View } from './view.js';

const COLORS = {
  background: '#1d1f22', panel: '#26292d', line: '#3a3e44', text: '#d8dadd', dim: '#8a9099',
  laneAlt: 'rgba(255,255,255,0.025)', focused: 'rgba(240,176,64,0.06)', zero: 'rgba(255,255,255,0.16)',
  scale: 'rgba(255,255,255,0.05)',
  bar: 'rgba(255,255,255,0.16)', beat: 'rgba(255,255,255,0.07)', row: 'rgba(255,255,255,0.03)',
  sectionA: '#34404d', sectionB: '#3d3548', wave: '#5f7f8f', loop: 'rgba(240,176,64,0.10)',
  afterEnd: 'rgba(0,0,0,0.35)', curve: '#9fd0ff', key: '#6fb3ff', selected: '#ffd166', playhead: '#f0b040',
};

const $ = (id) => document.getElementById(id);
// How often a change refused while the source is being written is sent again (each after the
// wait the player names, half a second or so) before the page gives up and says why.
const SETTLE_TRIES = 120;
// A held drag renews its preview this often, or the player ends it (a page gone mid-drag).
const PREVIEW_RENEW_MS = 1000;
// How long the page waits for the player's word that it took a seek before it believes the
// player's time again (a seek past the end is clamped, and never shows as asked).
const SEEK_TAKEN_MS = 2000;
// Notices of something that is over go by themselves: news after this long, refusals after this.
const NEWS_MS = 5000, REFUSAL_MS = 10000;

class App {
  constructor() {
    this.connection = new Connection(new URLSearchParams(location.search).get('token') || '');
    this.view = new View();
    this.settings = loadSettings();
    this.state = null;
    this.peaks = null;
    this.player = { music_ms: 0, paused: true, loop_on: false, loop_start_ms: 0, loop_end_ms: 0 };
    this.playerAt = performance.now();
    this.dirty = true;
    this.follow = this.settings.follow === true;
    this.changes = Promise.resolve();   // one change at a time, in order
    this.awaitedVersion = 0;            // the version the last change made, until its state arrives
    this.versionWaiters = [];
    this.seekInFlight = false;
    this.pendingSeek = null;
    this.loopMarks = { start: null, end: null };
    this.clockText = '';
    this.lost = false;
    this.clip = null;
    this.previews = { latest: null, last: null, active: false, inFlight: null, timer: null, onAnswer: null };
    this.savedSettings = '';

    this.canvases = { ruler: $('ruler'), lanes: $('lanes'), overlay: $('overlay') };
    this.ruler = new Ruler(this.canvases.ruler, this);
    this.lanes = new Lanes(this.canvases.lanes, $('labels'), this);
    this.entry = new Entry($('entry'), this);
    this.history = new History($('undo-list'), $('redo-list'), $('undo'), $('redo'),
      (verb, steps) => this.change(verb, { steps }));
    if (finite(this.settings.laneHeight)) this.lanes.setLaneHeight(this.settings.laneHeight);
    $('lane-height').value = this.lanes.laneH;
    $('follow').checked = this.follow;
    $('help').replaceChildren(...helpRows().map(([keys, does]) => {
      const tr = document.createElement('tr');
      for (const text of [keys, does]) {
        const td = document.createElement('td');
        td.textContent = text;
        tr.append(td);
      }
      return tr;
    }));
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

  // ---- [SECTION] state from the player ----
  applyState(state) {
    for (const t of state.tracks) t.keys = keysFromJson(t.keys);
    const first = !this.state;
    this.state = state;
    this.view.setTimeline(state.timeline, this.peaks && this.peaks.music_ms);
    if (first) this.restoreView();
    this.applyPlayer(state.player);
    this.lanes.setTracks(state.tracks, state.version);
    if (first) this.restoreLanes();
    this.history.show(state.history);
    if (!state.source.ok) {
      const p = state.source.problems[0];
      this.notice(`${state.source.path}, line ${p.line}: ${p.message}. The show keeps the last good tracks; ` +
        'changes wait until the text is corrected.', true, true);
    } else if (this.sourceProblemShown) {
      this.notice('');
    }
    this.versionWaiters = this.versionWaiters.filter((w) => (state.version >= w.version ? (w.resolve(), false) : true));
    this.selectionChanged();
    this.redraw();
  }

  // The zoom and scroll of the last visit, or the whole show.
  restoreView() {
    const s = this.settings;
    if (finite(s.msPerPx) && s.msPerPx > 0 && finite(s.startMs)) {
      this.view.msPerPx = Math.min(s.msPerPx, this.view.totalMs / this.view.timeWidth);
      this.view.startMs = s.startMs;
      this.view.clamp();
    } else {
      this.view.fit();
    }
  }

  restoreLanes() {
    const s = this.settings;
    if (finite(s.scrollY)) {
      this.lanes.scrollY = s.scrollY;
      this.lanes.clampScroll();
      this.lanes.placeLabels();
    }
    if (typeof s.focused === 'string' && this.lanes.trackIndex(s.focused) >= 0) {
      this.lanes.focused = s.focused;
      this.lanes.buildLabels();
    }
  }

  applyPlayer(player) {
    // Pushes sent before the player took this page's last seek would put the playhead back
    // where it was for a moment (and a key put "at the playhead" there): until a push shows the
    // seek taken (or a while has passed: the show may have clamped it), the page keeps its time.
    const awaited = this.seekAwaited;
    if (awaited) {
      const since = performance.now() - awaited.at;
      const taken = player.paused ? Math.abs(player.music_ms - awaited.ms) <= 1
        : player.music_ms >= awaited.ms - 1 && player.music_ms <= awaited.ms + since + 100;
      if (taken || since > SEEK_TAKEN_MS) {
        this.seekAwaited = null;
      } else {
        const ms = this.nowMs();
        this.player = { ...player, music_ms: ms };
        this.playerAt = performance.now();
        this.redraw();
        return;
      }
    }
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

  // ---- [SECTION] changes (edits, undo, redo): one at a time, each on the version the page shows ----
  change(verb, body) {
    const run = async () => {
      await this.waitForVersion(this.awaitedVersion);
      if (!this.state) return null;
      // While another program writes the source the player refuses the change; it is sent
      // again, on the version it was made on, once the file should have settled.
      const version = this.state.version;
      let res = await this.connection.post(verb, { ...body, version });
      for (let tries = 1; res.status === 503 && res.body.settling && tries < SETTLE_TRIES; tries++) {
        this.notice(`${res.body.error}; trying again...`, true, true);
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
      const why = /^the tracks changed meanwhile/.test(res.body.error || '')
        ? 'Another page or program changed the tracks a moment before' : res.body.error;
      this.notice(`${why}: the change was not made. The page shows the tracks as they are now.`, true);
      this.connection.get('state').then((s) => this.applyState(s)).catch(() => {});
    } else {
      this.notice(res.body.error ? `${res.body.error}.` : `The player refused the change (${res.status}).`, true);
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

  // keys: [{track, row, to_row?, value?}]; the selection follows them.
  async moveKeys(keys) {
    const before = this.lanes.selection;
    this.lanes.select(keys.map((k) => ({ track: k.track, row: k.to_row ?? k.row })));
    if (!await this.edit({ op: 'move', keys })) this.lanes.selection = before;
    this.selectionChanged();
    this.redraw();
  }

  deleteTrack(name) {
    if (!name) {
      this.notice('Choose the track first: click its name, or move to it with \u2191 \u2193.');
      return;
    }
    this.edit({ op: 'delete_track', track: name });
  }

  async addTrack() {
    const input = $('new-track');
    const name = input.value.trim();
    if (!name) return;
    this.lanes.revealName = name;
    if (await this.edit({ op: 'add_track', name })) input.value = '';
    else this.lanes.revealName = null;
  }

  // ---- [SECTION] previews: the show plays dragged keys before they are saved ----
  // The newest request goes when the one before has been answered; a held drag renews it.
  // onAnswer(refusal or null) hears the server's verdict.
  preview(body, onAnswer) {
    const p = this.previews;
    p.latest = body;
    p.onAnswer = onAnswer;
    p.active = true;
    if (!p.timer) {
      p.timer = setInterval(() => {
        if (p.active && !p.inFlight && p.last) {
          p.latest = p.last;
          this.sendPreviews();
        }
      }, PREVIEW_RENEW_MS);
    }
    if (!p.inFlight) this.sendPreviews();
  }

  sendPreviews() {
    const p = this.previews;
    p.inFlight = (async () => {
      while (p.active && p.latest && this.state) {
        const body = p.latest;
        p.latest = null;
        p.last = body;
        const res = await this.connection.post('preview', { ...body, version: this.state.version });
        if (res.status === 401) this.connectionLost('restarted');
        if (p.active && p.onAnswer && res.status !== 409) p.onAnswer(res.status === 200 ? null : res.body.error);
      }
    })();
    p.inFlight.finally(() => { p.inFlight = null; });
  }

  // Stops the previews and waits for the one under way, so nothing reaches the player after
  // what follows.
  async settlePreviews() {
    const p = this.previews;
    p.active = false;
    p.latest = p.last = null;
    clearInterval(p.timer);
    p.timer = null;
    if (p.inFlight) await p.inFlight;
  }

  // The drag let go: its change as one edit (which ends the preview, whatever the verdict).
  async commitPreview(body) {
    await this.settlePreviews();
    return this.edit(body);
  }

  // The drag given up: the show plays the source's keys again.
  async endPreview() {
    await this.settlePreviews();
    const res = await this.connection.post('preview', { end: true });
    if (res.status === 401) this.connectionLost('restarted');
  }

  // ---- [SECTION] the player ----
  seek(ms) {
    this.player = { ...this.player, music_ms: ms };
    this.playerAt = performance.now();
    this.seekAwaited = { ms, at: this.playerAt };
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

  // The playhead to the start of a row, in view.
  seekRow(row) {
    const last = this.state ? this.state.timeline.last_row : row;
    const ms = this.view.startMsOfRow(Math.min(Math.max(row, 0), last));
    this.seek(ms);
    this.view.reveal(ms, 0.5);
  }

  stepRows(rows) { this.seekRow(this.view.rowAt(this.nowMs()) + rows); }

  playheadToEnd(end) {
    if (!end) this.seekRow(0);
    else if (this.state) this.seekRow(this.view.rowAt(this.state.timeline.show_end_ms));
  }

  // The previous or next key of the focused track (of any track when none is focused).
  stepKey(direction) {
    const focused = this.lanes.focused;
    const tracks = this.lanes.tracks.filter((t) => focused === null || t.name === focused);
    const row = this.view.rowAt(this.nowMs());
    let best = null;
    for (const t of tracks) {
      for (const [r] of t.keys) {
        if (direction > 0 ? r > row && (best === null || r < best) : r < row && (best === null || r > best)) best = r;
      }
    }
    if (best === null) {
      this.notice(`No key ${direction > 0 ? 'after' : 'before'} ${formatPosition(row, this.view.rowsPerBeat)}` +
        `${focused ? ` on ${focused}` : ''}.`);
      return;
    }
    this.seekRow(best);
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
      this.notice(`Loop ${which} at ${formatPosition(view.rowAt(this.loopMarks[which]), view.rowsPerBeat)}; ` +
        `now set the loop ${which === 'start' ? 'end (])' : 'start ([)'}.`);
    }
  }

  clearLoop() {
    this.loopMarks = { start: null, end: null };
    this.connection.post('loop', { start_ms: 0, end_ms: 0 });
  }

  toggleFollow() {
    this.follow = !this.follow;
    $('follow').checked = this.follow;
  }

  // Z: the selection fills the view; Shift+Z, or Z with nothing selected: the loop.
  frameSelection(loop) {
    const keys = loop ? [] : this.lanes.selectedDetails();
    if (keys.length) {
      this.view.frame(this.view.msOfRow(keys[0].row), this.view.msOfRow(keys[keys.length - 1].row));
    } else if (this.player.loop_on) {
      this.view.frame(this.player.loop_start_ms, this.player.loop_end_ms);
    } else {
      this.notice(loop ? 'There is no loop to show: set one with [ and ].' : 'Select keys (or set a loop) to show them whole.');
    }
  }

  // ---- [SECTION] keys and clipboard ----
  // A key at the playhead's row on the focused track, where the curve already is.
  insertAtPlayhead() {
    const track = this.lanes.focused;
    if (track === null) {
      this.notice('Choose the track first: click its name or its lane, or move to it with \u2191 \u2193.');
      return;
    }
    const row = this.view.rowAt(this.nowMs());
    this.lanes.addKey(track, row, Number(formatValue(this.lanes.valueAtRow(track, row))));
  }

  openEntry(at) {
    const keys = this.lanes.selectedDetails();
    if (keys.length === 0) {
      this.notice('Select the keys to type a value for first (click a key, or a name for all its keys).');
      return;
    }
    this.entry.show(keys, at || this.lanes.keyPlace(keys[0].track, keys[0].row));
  }

  copy() {
    const keys = this.lanes.selectedDetails();
    if (keys.length === 0) {
      this.notice('Select the keys to copy first.');
      return false;
    }
    this.clip = copyKeys(keys);
    const tracks = [...new Set(keys.map((k) => k.track))];
    this.notice(`Copied ${keys.length} key${keys.length > 1 ? 's' : ''} of ${tracks.join(', ')}; Ctrl+V puts them at the playhead.`);
    return true;
  }

  cut() {
    if (!this.copy()) return;
    this.edit({ op: 'cut', keys: this.lanes.selectedKeys() });
  }

  // The copied keys from the playhead's row on, on their tracks (keys of one track: on the
  // focused one); they replace keys on the rows they land on.
  async paste() {
    const clip = this.clip || storedClip();
    if (!clip) {
      this.notice('Nothing to paste: copy keys first (Ctrl+C).');
      return;
    }
    const body = placeKeys(clip, this.view.rowAt(this.nowMs()), this.lanes.focused);
    if (await this.edit(body)) this.lanes.select(body.keys);
  }

  async duplicate() {
    const keys = this.lanes.selectedDetails();
    if (keys.length === 0) {
      this.notice('Select the keys to duplicate first.');
      return;
    }
    const body = placeKeys({ keys }, duplicateRow(keys, this.view.rowsPerBeat), null, 'duplicate');
    if (await this.edit(body)) this.lanes.select(body.keys);
  }

  escape() {
    if (this.closeMenus()) return;
    if (this.lanes.cancelDrag()) return;
    this.lanes.selection.clear();
    this.selectionChanged();
  }

  // The toolbar's word on the selection: how many keys of which tracks, their interpolation.
  selectionChanged() {
    const keys = this.lanes.selectedDetails();
    const tracks = [...new Set(keys.map((k) => k.track))];
    const info = $('selection-info'), menu = $('interpolation');
    if (keys.length === 0) {
      info.textContent = 'no keys selected';
    } else {
      const on = tracks.length === 1 ? tracks[0] : `${tracks.length} tracks`;
      info.textContent = keys.length === 1
        ? `${on} ${formatPosition(keys[0].row, this.view.rowsPerBeat)} = ${formatValue(keys[0].value)}`
        : `${keys.length} keys on ${on}`;
    }
    const kinds = new Set(keys.map((k) => k.kind));
    menu.value = kinds.size === 0 ? '' : kinds.size > 1 ? 'mixed' : INTERPOLATIONS[[...kinds][0]] || '';
    menu.title = kinds.size > 1 ? 'the selected keys have several interpolations' : 'interpolation of the selected keys (1 to 4)';
    $('delete').disabled = $('edit-value').disabled = keys.length === 0;
  }

  // ---- [SECTION] page furniture ----
  // A notice floats over the lanes' corner. Sticky ones (the source's problem, the connection)
  // stay while their cause does; others go by themselves, and with the next change that works.
  notice(text, error = false, sticky = false) {
    const box = $('notice');
    clearTimeout(this.noticeTimer);
    this.sourceProblemShown = sticky;
    box.hidden = !text;
    $('notice-text').textContent = text;
    box.className = error ? 'error' : '';
    if (text && !sticky) this.noticeTimer = setTimeout(() => { box.hidden = true; }, error ? REFUSAL_MS : NEWS_MS);
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

  // The right-click menu: what the keys can do, with their keys.
  openMenu(x, y) {
    const menu = $('menu');
    const selected = this.lanes.selection.size > 0, focused = this.lanes.focused;
    const items = [
      ['Value / position\u2026', 'Enter', selected, () => this.openEntry()],
      ['Copy', 'Ctrl+C', selected, () => this.copy()],
      ['Cut', 'Ctrl+X', selected, () => this.cut()],
      ['Paste at the playhead', 'Ctrl+V', !!(this.clip || storedClip()), () => this.paste()],
      ['Duplicate', 'Ctrl+D', selected, () => this.duplicate()],
      ['Delete', 'Delete', selected, () => this.deleteSelected()],
      ...INTERPOLATIONS.map((name, i) => [name[0].toUpperCase() + name.slice(1), String(i + 1), selected, () => this.setInterpolation(name)]),
      ['Key at the playhead', 'I', focused !== null, () => this.insertAtPlayhead()],
      [`Delete track ${focused || ''}`, 'Shift+Delete', focused !== null, () => this.deleteTrack(focused)],
    ];
    menu.replaceChildren(...items.map(([label, keys, enabled, act]) => {
      const button = document.createElement('button');
      const name = document.createElement('span');
      name.textContent = label;
      const shortcut = document.createElement('span');
      shortcut.className = 'shortcut';
      shortcut.textContent = keys;
      button.append(name, shortcut);
      button.disabled = !enabled;
      button.addEventListener('click', () => {
        this.closeMenus();
        act();
      });
      return button;
    }));
    menu.hidden = false;
    menu.style.left = `${Math.min(x, window.innerWidth - menu.offsetWidth - 4)}px`;
    menu.style.top = `${Math.min(y, window.innerHeight - menu.offsetHeight - 4)}px`;
  }

  closeMenus() {
    const menu = $('menu');
    if (menu.hidden && !this.entry.open) return false;
    menu.hidden = true;
    this.entry.close();
    return true;
  }

  // What the page keeps for its next visit, written when it changed.
  keepSettings() {
    const settings = {
      startMs: this.view.startMs, msPerPx: this.view.msPerPx, scrollY: this.lanes.scrollY,
      laneHeight: this.lanes.laneH, follow: this.follow, focused: this.lanes.focused,
    };
    const text = JSON.stringify(settings);
    if (text !== this.savedSettings && this.state) {
      this.savedSettings = text;
      saveSettings(settings);
    }
  }

  // ---- [SECTION] every frame ----
  frame(stamp) {
    const ms = this.nowMs();
    if (this.follow && !this.player.paused && this.state) {
      const before = this.view.startMs;
      this.view.startMs = ms - 0.3 * this.view.timeWidth * this.view.msPerPx;
      this.view.clamp();
      if (this.view.startMs !== before) this.dirty = true;
    }
    this.lanes.updateValues(Math.round(ms));
    if (this.dirty) {
      this.dirty = false;
      this.ruler.draw(this.canvases.ruler.getContext('2d'), this.state, this.peaks, COLORS);
      this.lanes.draw(this.canvases.lanes.getContext('2d'), COLORS);
    }
    this.drawPlayhead(ms);
    if (!(stamp - this.keptAt < 500)) {
      this.keptAt = stamp;
      this.keepSettings();
    }
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
      $('clock-beat').textContent = formatPosition(this.view.rowAt(ms), this.view.rowsPerBeat);
    }
  }

  // ---- [SECTION] input ----
  bindInput() {
    $('play').addEventListener('click', () => this.togglePause());
    $('loop-start').addEventListener('click', () => this.markLoop('start'));
    $('loop-end').addEventListener('click', () => this.markLoop('end'));
    $('loop-clear').addEventListener('click', () => this.clearLoop());
    $('undo').addEventListener('click', () => this.change('undo', {}));
    $('redo').addEventListener('click', () => this.change('redo', {}));
    $('delete').addEventListener('click', () => this.deleteSelected());
    $('edit-value').addEventListener('click', () => this.openEntry());
    $('interpolation').addEventListener('change', (e) => {
      this.setInterpolation(e.target.value);
      this.selectionChanged();
    });
    $('add-track').addEventListener('click', () => this.addTrack());
    $('new-track').addEventListener('keydown', (e) => { if (e.key === 'Enter') this.addTrack(); });
    $('follow').addEventListener('change', (e) => { this.follow = e.target.checked; });
    $('lane-height').addEventListener('input', (e) => this.lanes.setLaneHeight(Number(e.target.value)));
    $('notice-close').addEventListener('click', () => { $('notice').hidden = true; });
    $('entry').addEventListener('submit', (e) => e.preventDefault());
    $('timeline').addEventListener('wheel', (e) => this.wheel(e), { passive: false });
    // A clicked button or list gives the keys back to the page, so Space does not press it again.
    for (const control of document.querySelectorAll('#toolbar button, #toolbar select, #follow, #lane-height')) {
      control.addEventListener(control.tagName === 'SELECT' || control.type === 'range' ? 'change' : 'click', () => control.blur());
    }
    window.addEventListener('keydown', (e) => this.key(e));
    window.addEventListener('pointerdown', (e) => {
      if (!$('menu').hidden && !$('menu').contains(e.target)) $('menu').hidden = true;
    }, true);
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
    if (target instanceof HTMLInputElement || target instanceof HTMLSelectElement) {
      if (e.key === 'Escape') target.blur();
      return;
    }
    const binding = bindingFor(e);
    if (!binding) return;
    e.preventDefault();
    binding.act(this, e);
    this.redraw();
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
  focused: () => app.lanes.focused,
  // What the page shows beside each name: the value the show reads at the playhead.
  shownValues: () => Object.fromEntries(app.lanes.tracks.map((t, i) => [t.name, app.lanes.valueCells[i]?.text])),
  clock: () => ({ beat: $('clock-beat').textContent, time: $('clock').textContent }),
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
  // The centre of a track's name, in client coordinates; null when it is scrolled away.
  labelPosition(track) {
    const label = [...document.querySelectorAll('.lane-label')].find((l) => l.dataset.track === track);
    if (!label) return null;
    const r = label.getBoundingClientRect(), box = $('lanes-box').getBoundingClientRect();
    if (r.top < box.top || r.bottom > box.bottom) return null;
    return { x: r.left + 30, y: r.top + r.height / 2 };
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
  // A track's lane in client coordinates: {top, bottom}; null when it is not there.
  laneBox(track) {
    const i = app.lanes.trackIndex(track);
    if (i < 0) return null;
    const rect = app.canvases.lanes.getBoundingClientRect(), lane = app.lanes.laneRect(i);
    return { top: rect.top + lane.top, bottom: rect.top + lane.top + lane.height };
  },
  laneHeight: () => app.lanes.laneH,
  defaultLaneHeight: LANE_H,
};
