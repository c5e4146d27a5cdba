// The station's event stream, read with fetch() because EventSource cannot
// send the Authorization header. It reconnects by itself, resuming with
// Last-Event-ID, and reports whether it is live.
import { authHeaders } from './api.js';

// Cuts a text stream into events: `id`, `event` and `data` fields, a blank
// line ends an event, a line starting with ':' is a comment.
export class EventParser {
  constructor(onEvent) {
    this.onEvent = onEvent;
    this.pending = '';
    this.reset();
  }

  reset() {
    this.id = null;
    this.name = 'message';
    this.data = [];
  }

  push(text) {
    this.pending += text;
    let end;
    while ((end = this.pending.search(/\r\n|\r|\n/)) >= 0) {
      const line = this.pending.slice(0, end);
      const breakLength = this.pending.startsWith('\r\n', end) ? 2 : 1;
      // A lone '\r' at the very end may be the first half of '\r\n'.
      if (breakLength === 1 && this.pending[end] === '\r' && end === this.pending.length - 1) break;
      this.pending = this.pending.slice(end + breakLength);
      this.line(line);
    }
  }

  line(line) {
    if (line === '') {
      if (this.data.length > 0) {
        this.onEvent({ id: this.id, event: this.name, data: this.data.join('\n') });
      }
      this.reset();
      return;
    }
    if (line.startsWith(':')) return;
    const colon = line.indexOf(':');
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? '' : line.slice(colon + 1);
    if (value.startsWith(' ')) value = value.slice(1);
    if (field === 'id') this.id = value;
    else if (field === 'event') this.name = value;
    else if (field === 'data') this.data.push(value);
  }
}

// A silent stream longer than this is dead: the station comments every 15 s.
const kSilenceMs = 40000;
const kRetryMs = [500, 1000, 2000, 4000];

export class EventStream {
  // handlers: onEvent({event, data}), onLive(bool), onRefused(error)
  constructor(handlers) {
    this.handlers = handlers;
    this.lastId = null;
    this.stopped = false;
    this.failures = 0;
  }

  start() {
    this.stopped = false;
    this.run();
  }

  stop() {
    this.stopped = true;
    this.controller?.abort();
    clearTimeout(this.retryTimer);
  }

  async run() {
    while (!this.stopped) {
      try {
        await this.connect();
      } catch (error) {
        if (error?.refused) {
          this.handlers.onLive(false);
          this.handlers.onRefused(error);
          return;
        }
      }
      this.handlers.onLive(false);
      if (this.stopped) return;
      const delay = kRetryMs[Math.min(this.failures, kRetryMs.length - 1)];
      this.failures += 1;
      await new Promise((resolve) => (this.retryTimer = setTimeout(resolve, delay)));
    }
  }

  async connect() {
    this.controller = new AbortController();
    const headers = { ...authHeaders(), Accept: 'text/event-stream' };
    if (this.lastId !== null) headers['Last-Event-ID'] = this.lastId;
    const response = await fetch('/api/v1/events', {
      headers,
      cache: 'no-store',
      signal: this.controller.signal,
    });
    if (response.status === 401 || response.status === 403) {
      throw Object.assign(new Error('refused'), { refused: true, status: response.status });
    }
    if (!response.ok || !response.body) throw new Error(`HTTP ${response.status}`);

    this.failures = 0;
    this.handlers.onLive(true);
    const parser = new EventParser((event) => {
      if (event.id !== null) this.lastId = event.id;
      let data;
      try {
        data = JSON.parse(event.data);
      } catch {
        return;
      }
      this.handlers.onEvent({ event: event.event, data });
    });
    const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
    let watchdog;
    const arm = () => {
      clearTimeout(watchdog);
      watchdog = setTimeout(() => this.controller.abort(), kSilenceMs);
    };
    try {
      arm();
      for (;;) {
        const { value, done } = await reader.read();
        if (done) return;
        arm();
        parser.push(value);
      }
    } finally {
      clearTimeout(watchdog);
    }
  }
}
