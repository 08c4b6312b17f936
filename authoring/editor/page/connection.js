// The page's line to the player: verbs as JSON POSTs carrying the token, the state and the
// waveform as GETs, and the player's pushes as Server-Sent Events. When the event stream is
// refused, it finds out why and says so (player restarted, gone, busy, or this page replaced
// by a newer one) and reconnects where that can help. Nothing is fetched from anywhere but
// the player that served the page.

const RETRY_FIRST_MS = 1000;
const RETRY_LONGEST_MS = 30000;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

export class Connection {
  constructor(token) {
    this.token = token;
    this.events = null;
    this.handlers = null;
    this.retryMs = RETRY_FIRST_MS;
  }

  headers(json) {
    const h = { 'X-Editor-Token': this.token };
    if (json) h['Content-Type'] = 'application/json';
    return h;
  }

  // {status, body}; status 0 when the player cannot be reached.
  async post(verb, body) {
    try {
      const res = await fetch(`/api/${verb}`, { method: 'POST', headers: this.headers(true), body: JSON.stringify(body) });
      return { status: res.status, body: await res.json().catch(() => ({})) };
    } catch (err) {
      return { status: 0, body: { error: 'the player does not answer' } };
    }
  }

  // A 503 ("not yet", e.g. the music still being decoded) is asked again after the time the
  // player names.
  async get(what) {
    for (;;) {
      const res = await fetch(`/api/${what}`, { headers: this.headers(false) });
      if (res.status === 503) {
        const seconds = Number(res.headers.get('Retry-After')) || 1;
        await sleep(Math.min(seconds * 1000, RETRY_LONGEST_MS));
        continue;
      }
      if (!res.ok) throw new Error(`${what}: ${res.status}`);
      return res.json();
    }
  }

  // handlers: {state(json), player(json), notice(json), lost(kind, text), back()}; kinds:
  // 'dropped' (the browser reconnects by itself), 'restarted', 'gone', 'busy', 'replaced'.
  listen(handlers) {
    this.handlers = handlers;
    this.open();
  }

  open() {
    const events = new EventSource(`/api/events?token=${encodeURIComponent(this.token)}`);
    this.events = events;
    for (const name of ['state', 'player', 'notice']) {
      events.addEventListener(name, (e) => this.handlers[name](JSON.parse(e.data)));
    }
    events.addEventListener('open', () => {
      this.retryMs = RETRY_FIRST_MS;
      this.handlers.back();
    });
    // A newer page took this one's place: stay closed (reconnecting would push the next page
    // out) until somebody uses this page again.
    events.addEventListener('replaced', (e) => {
      events.close();
      this.events = null;
      this.handlers.lost('replaced', JSON.parse(e.data).text);
      this.reconnectOnUse();
    });
    events.addEventListener('error', () => {
      if (events.readyState === EventSource.CLOSED) {
        if (this.events === events) this.refused();
      } else {
        this.handlers.lost('dropped');
      }
    });
  }

  // The player answered the stream with an error: which one tells what to do.
  async refused() {
    this.events = null;
    let status = 0;
    try {
      status = (await fetch('/api/state', { headers: this.headers(false) })).status;
    } catch (err) {
      status = 0;
    }
    if (status === 401 || status === 403) {
      this.handlers.lost('restarted');
    } else if (status === 0) {
      this.handlers.lost('gone');
    } else {
      const wait = this.retryMs;
      this.retryMs = Math.min(this.retryMs * 2, RETRY_LONGEST_MS);
      this.handlers.lost('busy', `the player is busy; this page tries again in ${Math.round(wait / 1000)} s`);
      setTimeout(() => { if (!this.events) this.open(); }, wait);
    }
  }

  reconnectOnUse() {
    const again = () => {
      for (const [target, name] of uses) target.removeEventListener(name, again, true);
      if (!this.events) this.open();
    };
    const uses = [[window, 'pointerdown'], [window, 'keydown'], [window, 'focus']];
    for (const [target, name] of uses) target.addEventListener(name, again, true);
  }
}
