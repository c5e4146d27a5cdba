// SPDX-License-Identifier: Apache-2.0
// A stand-in station for the page: it serves the dashboard's own files and
// answers the API as the contract words it, with the parts a station of the
// current build may not have yet (session, calling, unpaid, currency, zone).
// It listens on a free loopback port, records every write it receives and
// can push events to the open streams, so a test plays what happens on the
// forecourt while the page is open.
import { readFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const kSite = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../station/web/site');
const kTypes = { '.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.svg': 'image/svg+xml' };
// This till's token; the manager's is an admin's.
export const kToken = 'till-secret-for-the-contract-station';
export const kManagerToken = 'manager-secret-for-the-contract-station';
const kCallers = { [kToken]: { name: 'pos-1', role: 'operate' }, [kManagerToken]: { name: 'manager', role: 'admin' } };
export const kGrades = [
  { number: 1, name: 'Diesel' },
  { number: 2, name: 'Super 95' },
  { number: 3, name: 'Super 98' },
  { number: 4, name: 'Diesel Premium' },
];
// A lock lasts this long, as the station's does.
const kLockMs = 120000;

const dispenser = (fields) => ({
  channel: 1, state: 'idle', code: 0, nozzle: null, volume: 0, amount: 0, grade: null, price: null,
  limit: {}, fill_id: null, link: 'ok', unpaid: 0, updated_at: '2026-12-07T10:15:02.120Z', ...fields,
});

const sale = (id, pump, grade, volume, amount, finished, fields = {}) => ({
  id, channel: 1, dispenser: pump, nozzle: grade, grade, price: 52.9, volume, amount, limit: {}, status: 'completed',
  authorized_by: 'pos-1', authorized_at: finished, finished_at: finished, recovered: false,
  paid: false, paid_by: null, paid_at: null, reference: null, locked_by: null, locked_until: null, ...fields,
});

// The closed shift's report: every configured nozzle (8 pumps of 4), most of
// which sold nothing; one meter that differs, one that did not answer.
function shiftReport(id) {
  const nozzles = [];
  for (let pump = 1; pump <= 8; pump += 1) {
    for (let nozzle = 1; nozzle <= 4; nozzle += 1) {
      const open = { volume: 1000 * pump + 100 * nozzle, amount: 52900 * pump + 5290 * nozzle };
      nozzles.push({ channel: 1, dispenser: pump, nozzle, grade: nozzle, totals_open: open, totals_close: open,
        journal: { volume: 0, amount: 0 }, difference: { volume: 0, amount: 0 } });
    }
  }
  const at = (pump, nozzle) => nozzles[(pump - 1) * 4 + nozzle - 1];
  const sold = (pump, nozzle, volume, amount, meter = volume) => {
    const n = at(pump, nozzle);
    n.journal = { volume, amount };
    n.totals_close = { volume: n.totals_open.volume + meter, amount: n.totals_open.amount + amount + (meter - volume) * 52.9 };
    n.difference = { volume: meter - volume, amount: Math.round((meter - volume) * 5290) / 100 };
  };
  sold(3, 1, 20, 1058, 20.5);
  sold(4, 2, 12.5, 676.25);
  sold(5, 3, 30, 1767);
  sold(6, 4, 8, 495.2);
  Object.assign(at(7, 2), { totals_close: null, difference: null });
  return {
    id, opened_at: '2026-12-07T06:00:00+05:45', closed_at: '2026-12-07T14:00:00+05:45', closed_by: 'pos-1',
    currency: 'EUR', fills: { count: 5, volume: 70.5, amount: 3996.45 },
    by_grade: kGrades.map((g, index) => ({ grade: g.number, name: g.name, count: index ? 1 : 2, volume: [20, 12.5, 30, 8][index], amount: [1058, 676.25, 1767, 495.2][index] })),
    by_dispenser: [3, 4, 5, 6].map((pump, index) => ({ channel: 1, dispenser: pump, count: index ? 1 : 2, volume: [20, 12.5, 30, 8][index], amount: [1058, 676.25, 1767, 495.2][index] })),
    unpaid: { count: 3, amount: 1587 }, cancelled: 1,
    nozzles,
    unanswered: [{ channel: 1, dispenser: 7, nozzle: 2 }],
  };
}

export class ContractStation {
  constructor() {
    this.writes = [];
    this.streams = new Set();
    this.eventId = 0;
    this.dispensers = [
      dispenser({ dispenser: 1, state: 'calling', nozzle: 2 }),
      dispenser({ dispenser: 2, state: 'no reply', link: 'no reply' }),
      dispenser({ dispenser: 3, state: 'idle', volume: 20, amount: 1058, grade: 1, price: 52.9, unpaid: 2 }),
      dispenser({ dispenser: 4, state: 'idle', volume: 12.5, amount: 676.25, grade: 2, price: 54.1, unpaid: 1 }),
      dispenser({ dispenser: 5, state: 'idle', volume: 30, amount: 1767, grade: 3, price: 58.9 }),
      dispenser({ dispenser: 6, state: 'idle', volume: 8, amount: 495.2, grade: 4, price: 61.9 }),
      dispenser({ dispenser: 7, state: 'idle' }),
      dispenser({ dispenser: 8, state: 'idle' }),
    ];
    // Another till has taken sale 9 and holds it for another 100 s.
    this.fills = [
      sale(7, 3, 1, 10, 529, '2026-12-07T09:10:00Z'),
      sale(8, 3, 1, 10, 529, '2026-12-07T10:40:00Z'),
      sale(9, 4, 2, 10, 529, '2026-12-07T10:42:00Z', { locked_by: 'pos-2', locked_until: new Date(Date.now() + 100000).toISOString() }),
      sale(10, 5, 3, 30, 1767, '2026-12-07T11:05:00Z', { paid: true }),
      sale(11, 6, 4, 8, 495.2, '2026-12-07T12:20:00Z', { paid: true }),
    ];
    this.shifts = [];
    this.server = http.createServer((request, response) => this.answer(request, response));
  }

  async start() {
    await new Promise((resolve) => this.server.listen(0, '127.0.0.1', resolve));
    this.url = `http://127.0.0.1:${this.server.address().port}/`;
  }

  async stop() {
    for (const stream of this.streams) stream.destroy();
    this.server.closeAllConnections();
    await new Promise((resolve) => this.server.close(resolve));
  }

  // What happens on the forecourt while the page is open.
  push(event, data) {
    this.eventId += 1;
    for (const stream of this.streams) stream.write(`id: ${this.eventId}\nevent: ${event}\ndata: ${JSON.stringify(data)}\n\n`);
  }

  setDispenser(fields) {
    const index = this.dispensers.findIndex((d) => d.dispenser === fields.dispenser);
    this.dispensers[index] = { ...this.dispensers[index], updated_at: new Date().toISOString(), ...fields };
    this.push('dispenser', this.dispensers[index]);
  }

  // The answer to the next write on `route` is made at once but held back
  // until release(), as a slow network would: `held.received` tells it came.
  hold(route) {
    this.held = { route, received: false, answers: [] };
  }

  release() {
    const { answers } = this.held;
    this.held = null;
    for (const send of answers) send();
  }

  reply(route, send) {
    if (this.held?.route !== route) return send();
    this.held.received = true;
    this.held.answers.push(send);
    return undefined;
  }

  // Another till takes a sale; with `announce` false its event is still on the way.
  lockBy(id, till, announce = true) {
    const fill = this.fills.find((f) => f.id === id);
    Object.assign(fill, { locked_by: till, locked_until: new Date(Date.now() + kLockMs).toISOString() });
    if (announce) this.push('fill', fill);
  }

  answer(request, response) {
    const url = new URL(request.url, 'http://station');
    if (!url.pathname.startsWith('/api/')) {
      const file = url.pathname === '/' ? 'index.html' : url.pathname.slice(1);
      if (file.includes('..')) return response.writeHead(404).end();
      try {
        const body = readFileSync(path.join(kSite, file));
        // The front door's policy: no inline script or style, nothing from elsewhere.
        return response
          .writeHead(200, {
            'Content-Type': kTypes[path.extname(file)] ?? 'text/plain',
            'Content-Security-Policy': "default-src 'self'; frame-ancestors 'none'",
          })
          .end(body);
      } catch {
        return response.writeHead(404).end();
      }
    }
    const caller = kCallers[(request.headers.authorization ?? '').replace(/^Bearer /, '')];
    if (url.pathname !== '/api/v1/health' && !caller) return problem(response, 401, 'Unauthorized', '');
    let text = '';
    request.on('data', (chunk) => (text += chunk));
    request.on('end', () => this.route(request.method, url.pathname.slice('/api/v1'.length), text, response, url.searchParams, caller));
  }

  route(method, route, text, response, query, caller) {
    const json = (body) => response.writeHead(200, { 'Content-Type': 'application/json' }).end(JSON.stringify(body));
    if (method === 'GET' && route === '/session') {
      return json({ name: caller.name, role: caller.role, currency: 'EUR', timezone: 'Asia/Kathmandu', grades: kGrades });
    }
    if (method === 'GET' && route === '/dispensers') return json(this.dispensers);
    const pump = route.match(/^\/dispensers\/1\/(\d)$/);
    if (method === 'GET' && pump) return json(this.dispensers[Number(pump[1]) - 1]);
    if (method === 'GET' && route === '/prices') {
      return json(this.dispensers.flatMap((d) => [1, 2, 3, 4].map((g) => ({ channel: 1, dispenser: d.dispenser, grade: g, price: 50 + g }))));
    }
    if (method === 'GET' && route === '/fills') {
      const unpaidOnly = query.get('paid') === 'false';
      const after = Number(query.get('after') ?? 0);
      const limit = Number(query.get('limit') ?? 100);
      return json(this.fills.filter((f) => f.id > after && (!unpaidOnly || !f.paid)).slice(0, limit));
    }
    const one = route.match(/^\/fills\/(\d+)$/);
    if (method === 'GET' && one) {
      const fill = this.fills.find((f) => f.id === Number(one[1]));
      return fill ? json(fill) : problem(response, 404, 'Not Found', `no fill ${one[1]}`);
    }
    if (method === 'GET' && route === '/shifts') {
      const after = Number(query.get('after') ?? 0);
      return json(this.shifts.filter((s) => s.id > after).slice(0, Number(query.get('limit') ?? 100)));
    }
    if (method === 'POST' && route === '/shifts/close') {
      const report = shiftReport(this.shifts.length + 1);
      this.shifts.push(report);
      this.writes.push({ method, route, body: null });
      return json(report);
    }
    if (method === 'GET' && /^\/shifts\/\d+$/.test(route)) {
      response.writeHead(200, { 'Content-Type': 'text/csv' });
      return response.end('channel,dispenser,nozzle\r\n1,3,1\r\n');
    }
    const settle = route.match(/^\/fills\/(\d+)\/(lock|unlock|clear)$/);
    if (method === 'POST' && settle) return this.settle(Number(settle[1]), settle[2], text, caller, response);
    if (method === 'GET' && route === '/health') return json({ status: 'ok', lines: [{ channel: 1, port: 'sim', up: true }] });
    if (method === 'GET' && route === '/events') {
      response.writeHead(200, { 'Content-Type': 'text/event-stream' });
      for (const d of this.dispensers) {
        this.eventId += 1;
        response.write(`id: ${this.eventId}\nevent: dispenser\ndata: ${JSON.stringify(d)}\n\n`);
      }
      this.streams.add(response.socket);
      return undefined;
    }
    if (method !== 'GET' && route !== '/shifts/close') this.writes.push({ method, route, body: text ? JSON.parse(text) : null });
    if (method === 'POST') {
      if (route === '/dispensers/1/4/authorize') return problem(response, 502, 'Bad Gateway', 'dispenser 1/4: no reply');
      const match = route.match(/^\/dispensers\/1\/(\d)\/authorize$/);
      if (match) {
        const d = this.dispensers[Number(match[1]) - 1];
        // The station's unpaid_limit is 2 here.
        if (d.unpaid >= 2) {
          const ids = this.fills.filter((f) => f.dispenser === d.dispenser && !f.paid).map((f) => f.id);
          return problem(response, 409, 'Conflict', `dispenser 1/${d.dispenser} holds ${d.unpaid} unpaid fills (${ids.join(', ')}): clear one first`);
        }
        const answer = { ...d, state: 'authorized', updated_at: new Date().toISOString(), limit: JSON.parse(text).amount ? { amount: JSON.parse(text).amount } : {} };
        return this.reply(route, () => json(answer));
      }
      if (route === '/stop') return json({ dispensers: [] });
    }
    return problem(response, 404, 'Not Found', '');
  }

  // The settlement rules as the station keeps them, with its words.
  settle(id, verb, text, caller, response) {
    const fill = this.fills.find((f) => f.id === id);
    this.writes.push({ method: 'POST', route: `/fills/${id}/${verb}`, body: text ? JSON.parse(text) : null });
    const heldByAnother = fill.locked_by && fill.locked_by !== caller.name && Date.parse(fill.locked_until) > Date.now();
    if (fill.paid && verb !== 'unlock') return problem(response, 409, 'Conflict', `fill ${id} is already paid`);
    if (heldByAnother && !(verb === 'unlock' && caller.role === 'admin')) {
      return problem(response, 409, 'Conflict', `fill ${id} is locked by ${fill.locked_by} until ${fill.locked_until}`);
    }
    if (verb === 'lock') Object.assign(fill, { locked_by: caller.name, locked_until: new Date(Date.now() + kLockMs).toISOString() });
    if (verb === 'unlock') Object.assign(fill, { locked_by: null, locked_until: null });
    if (verb === 'clear') {
      Object.assign(fill, { paid: true, paid_by: caller.name, locked_by: null, locked_until: null, reference: JSON.parse(text || '{}').reference ?? null });
    }
    response.writeHead(200, { 'Content-Type': 'application/json' }).end(JSON.stringify(fill));
    return undefined;
  }
}

function problem(response, status, title, detail) {
  response.writeHead(status, { 'Content-Type': 'application/problem+json' }).end(JSON.stringify({ type: 'about:blank', title, status, detail }));
}
