// SPDX-License-Identifier: Apache-2.0
// A stand-in station for the page: it serves the dashboard's own files and
// answers the API as the contract words it, with the parts a station of the
// current build may not have yet (session, calling, unpaid, currency, zone).
// It listens on a free loopback port and records every write it receives.
import { readFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const kSite = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../station/web/site');
const kTypes = { '.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.svg': 'image/svg+xml' };
export const kToken = 'till-secret-for-the-contract-station';

const dispenser = (fields) => ({
  channel: 1, state: 'idle', code: 0, nozzle: null, volume: 0, amount: 0, grade: null, price: null,
  limit: {}, fill_id: null, link: 'ok', unpaid: 0, updated_at: '2026-12-07T10:15:02.120Z', ...fields,
});

export class ContractStation {
  constructor() {
    this.writes = [];
    this.streams = new Set();
    this.dispensers = [
      dispenser({ dispenser: 1, state: 'calling', nozzle: 2 }),
      dispenser({ dispenser: 2, state: 'no reply', link: 'no reply' }),
      dispenser({ dispenser: 3, state: 'idle', volume: 20, amount: 1058, grade: 1, price: 52.9, unpaid: 2 }),
      dispenser({ dispenser: 4, state: 'idle', volume: 12.5, amount: 676.25, grade: 2, price: 54.1 }),
    ];
    const sale = (id, dispenser, grade, volume, amount, finished) => ({
      id, channel: 1, dispenser, nozzle: grade, grade, price: 52.9, volume, amount, limit: {}, status: 'completed',
      authorized_by: 'till-1', authorized_at: finished, finished_at: finished, recovered: false,
      paid: false, paid_by: null, paid_at: null, reference: null, locked_by: null, locked_until: null,
    });
    this.fills = [sale(7, 3, 1, 10, 529, '2026-12-07T09:10:00Z'), sale(8, 3, 1, 10, 529, '2026-12-07T10:40:00Z')];
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
    if (url.pathname !== '/api/v1/health' && request.headers.authorization !== `Bearer ${kToken}`) return problem(response, 401, 'Unauthorized', '');
    let text = '';
    request.on('data', (chunk) => (text += chunk));
    request.on('end', () => this.route(request.method, url.pathname.slice('/api/v1'.length), text, response, url.searchParams));
  }

  route(method, route, text, response, query) {
    const json = (body) => response.writeHead(200, { 'Content-Type': 'application/json' }).end(JSON.stringify(body));
    if (method === 'GET' && route === '/session') {
      return json({
        name: 'till-1', role: 'operate', currency: 'EUR', timezone: 'Asia/Kathmandu',
        grades: [{ number: 1, name: 'Diesel' }, { number: 2, name: 'Super 95' }],
      });
    }
    if (method === 'GET' && route === '/dispensers') return json(this.dispensers);
    if (method === 'GET' && route === '/prices') {
      return json([1, 2, 3, 4].flatMap((d) => [1, 2, 3, 4].map((g) => ({ channel: 1, dispenser: d, grade: g, price: 50 + g }))));
    }
    if (method === 'GET' && route === '/fills') {
      const unpaidOnly = query.get('paid') === 'false';
      const after = Number(query.get('after') ?? 0);
      const limit = Number(query.get('limit') ?? 100);
      return json(this.fills.filter((f) => f.id > after && (!unpaidOnly || !f.paid)).slice(0, limit));
    }
    if (method === 'GET' && route === '/shifts') return json(this.shifts);
    if (method === 'POST' && route === '/shifts/close') {
      const report = {
        id: this.shifts.length + 1, opened_at: '2026-12-07T06:00:00Z', closed_at: '2026-12-07T14:00:00Z', closed_by: 'till-1',
        currency: 'EUR', fills: { count: 2, volume: 20, amount: 1058 },
        by_grade: [{ grade: 1, name: 'Diesel', count: 2, volume: 20, amount: 1058 }],
        by_dispenser: [{ channel: 1, dispenser: 3, count: 2, volume: 20, amount: 1058 }],
        unpaid: { count: 1, amount: 529 }, cancelled: 1,
        nozzles: [
          { channel: 1, dispenser: 3, nozzle: 1, grade: 1, totals_open: { volume: 100, amount: 5290 }, totals_close: { volume: 120.5, amount: 6374.45 },
            journal: { volume: 20, amount: 1058 }, difference: { volume: 0.5, amount: 26.45 } },
          { channel: 1, dispenser: 4, nozzle: 2, grade: 2, totals_open: { volume: 50, amount: 2705 }, totals_close: null, journal: { volume: 0, amount: 0 }, difference: null },
        ],
        unanswered: [{ channel: 1, dispenser: 4, nozzle: 2 }],
      };
      this.shifts.push(report);
      this.writes.push({ method, route, body: null });
      return json(report);
    }
    if (method === 'GET' && /^\/shifts\/\d+$/.test(route)) {
      response.writeHead(200, { 'Content-Type': 'text/csv' });
      return response.end('channel,dispenser,nozzle\r\n1,3,1\r\n');
    }
    const settle = route.match(/^\/fills\/(\d+)\/(lock|unlock|clear)$/);
    if (method === 'POST' && settle) {
      const fill = this.fills.find((f) => f.id === Number(settle[1]));
      this.writes.push({ method, route, body: text ? JSON.parse(text) : null });
      if (settle[2] === 'lock') fill.locked_by = 'till-1';
      if (settle[2] === 'unlock') fill.locked_by = null;
      if (settle[2] === 'clear') Object.assign(fill, { paid: true, paid_by: 'till-1', reference: JSON.parse(text).reference ?? null });
      return json(fill);
    }
    if (method === 'GET' && route === '/health') return json({ status: 'ok', lines: [{ channel: 1, port: 'sim', up: true }] });
    if (method === 'GET' && route === '/events') {
      response.writeHead(200, { 'Content-Type': 'text/event-stream' });
      this.dispensers.forEach((d, index) => response.write(`id: ${index + 1}\nevent: dispenser\ndata: ${JSON.stringify(d)}\n\n`));
      this.streams.add(response.socket);
      return undefined;
    }
    if (method !== 'GET' && !route.startsWith('/fills/') && route !== '/shifts/close') this.writes.push({ method, route, body: text ? JSON.parse(text) : null });
    if (method === 'POST') {
      if (route === '/dispensers/1/4/authorize') return problem(response, 502, 'Bad Gateway', 'dispenser 1/4: no reply');
      const match = route.match(/^\/dispensers\/1\/(\d)\/authorize$/);
      if (match) {
        const d = this.dispensers[Number(match[1]) - 1];
        return json({ ...d, state: 'authorized', limit: JSON.parse(text).amount ? { amount: JSON.parse(text).amount } : {} });
      }
      if (route === '/stop') return json({ dispensers: [] });
    }
    return problem(response, 404, 'Not Found', '');
  }
}

function problem(response, status, title, detail) {
  response.writeHead(status, { 'Content-Type': 'application/problem+json' }).end(JSON.stringify({ type: 'about:blank', title, status, detail }));
}
