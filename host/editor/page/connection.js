// The page's line to the player: verbs as JSON POSTs carrying the token, the state and the
// waveform as GETs, and the player's pushes as Server-Sent Events. Nothing is fetched from
// anywhere but the player that served the page.

export class Connection {
  constructor(token) {
    this.token = token;
    this.events = null;
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

  async get(what) {
    const res = await fetch(`/api/${what}`, { headers: this.headers(false) });
    if (!res.ok) throw new Error(`${what}: ${res.status}`);
    return res.json();
  }

  // handlers: {state(json), player(json), notice(json), lost(closedForGood), back()}
  listen(handlers) {
    const events = new EventSource(`/api/events?token=${encodeURIComponent(this.token)}`);
    this.events = events;
    for (const name of ['state', 'player', 'notice']) {
      events.addEventListener(name, (e) => handlers[name](JSON.parse(e.data)));
    }
    events.addEventListener('open', () => handlers.back());
    // The browser reconnects by itself after a dropped line; a refused one (the player was
    // restarted with a new token) stays closed.
    events.addEventListener('error', () => handlers.lost(events.readyState === EventSource.CLOSED));
  }
}
