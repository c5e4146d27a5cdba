// The station's OpenAPI document as a running service serves it: redocly's
// recommended rules find nothing, and every answer the service gives to a
// sale's requests, good and refused, is valid against the schema the
// document names for its path, method and status.
import { execFile } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

import Ajv from 'ajv';
import addFormats from 'ajv-formats';

import { kTokens, Station, waitFor } from '../web/station.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const binary = process.env.QUORLAN_BIN;
const station = new Station(binary, [1, 2]);
let document;

before(async () => {
  assert.ok(binary, 'QUORLAN_BIN names the quorlan binary');
  await station.start();
  const answer = await fetch(`${station.url}api/v1/openapi.json`, {
    headers: { Authorization: `Bearer ${kTokens.view}` },
  });
  assert.equal(answer.status, 200);
  document = await answer.json();
});

after(async () => {
  assert.deepEqual(await station.stop(), { code: 0, signal: null });
  await station.dispose();
});

test('redocly lint finds no error and no warning', async () => {
  const file = path.join(station.folder, 'openapi.json');
  writeFileSync(file, JSON.stringify(document, null, 2));
  const redocly = path.join(here, 'node_modules', '.bin', 'redocly');
  const { stdout } = await promisify(execFile)(redocly, ['lint', '--format=json', file], {
    cwd: station.folder,
  });
  const report = JSON.parse(stdout);
  assert.deepEqual(report.totals, { errors: 0, warnings: 0, ignored: 0 }, JSON.stringify(report.problems, null, 2));
});

// The document's path template that `pathname` (under /api/v1) matches.
function Template(pathname) {
  const relative = pathname.split('?')[0].replace(/^\/api\/v1/, '');
  for (const template of Object.keys(document.paths)) {
    const pattern = new RegExp(`^${template.replace(/\{[^}]+\}/g, '[^/]+')}$`);
    if (pattern.test(relative)) return template;
  }
  return null;
}

function Pointer(...parts) {
  return '#/' + parts.map((part) => String(part).replace(/~/g, '~0').replace(/\//g, '~1')).join('/');
}

// Validates one answer; returns what is wrong, or null.
function Check(ajv, method, pathname, status, contentType, body) {
  const template = Template(pathname);
  if (!template) return `${pathname} is in no path of the document`;
  const operation = document.paths[template][method.toLowerCase()];
  if (!operation) return `${method} ${template} is not in the document`;
  const range = `${String(status)[0]}XX`;
  const key = [String(status), range, 'default'].find((k) => k in operation.responses);
  if (!key) return `${method} ${template} documents no ${status}`;
  let response = operation.responses[key];
  let where = ['paths', template, method.toLowerCase(), 'responses', key];
  if (response.$ref) {
    where = response.$ref.slice(2).split('/');
    response = where.reduce((node, part) => node[part], document);
  }
  const media = contentType.split(';')[0].trim();
  if (!response.content || !(media in response.content)) {
    return `${method} ${template} ${status}: ${media} is not documented`;
  }
  const validate = ajv.getSchema(`openapi.json${Pointer(...where, 'content', media, 'schema')}`);
  if (media === 'text/event-stream') return null;
  if (validate(body)) return null;
  return `${method} ${pathname} ${status}: ${ajv.errorsText(validate.errors)}`;
}

test('every answer is valid against the document', async () => {
  const ajv = new Ajv({ strict: false, allErrors: true });
  addFormats(ajv);
  ajv.addSchema(document, 'openapi.json');
  const base = station.url.replace(/\/$/, '');
  const seen = new Set();
  const problems = [];
  const call = async (method, pathname, role, body, headers = {}) => {
    const init = { method, headers: { ...headers } };
    if (role) init.headers.Authorization = `Bearer ${kTokens[role] ?? role}`;
    if (body !== undefined) {
      init.body = typeof body === 'string' ? body : JSON.stringify(body);
      init.headers['Content-Type'] = 'application/json';
    }
    const controller = new AbortController();
    init.signal = controller.signal;
    const answer = await fetch(base + pathname, init);
    const contentType = answer.headers.get('content-type') ?? '';
    // An event stream never ends: its head is what there is to check.
    const text = contentType.startsWith('text/event-stream') ? '' : await answer.text();
    controller.abort();
    let parsed = text;
    if (/json/.test(contentType)) parsed = JSON.parse(text);
    const problem = Check(ajv, method, pathname, answer.status, contentType, parsed);
    if (problem) problems.push(problem);
    seen.add(`${method} ${Template(pathname)} ${answer.status}`);
    return { status: answer.status, body: parsed };
  };

  const prices = [1, 2].flatMap((d) =>
    [1, 2, 3, 4].map((g) => ({ channel: 1, dispenser: d, grade: g, price: 50 + g + d / 100 })),
  );
  assert.equal((await call('PUT', '/api/v1/prices', 'admin', prices)).status, 200);
  await waitFor('dispenser 1/1 to be idle', async () => (await call('GET', '/api/v1/dispensers/1/1', 'view')).body.state === 'idle');
  await call('GET', '/api/v1/health');
  await call('GET', '/api/v1/openapi.json', 'view');
  await call('GET', '/api/v1/session', 'operate');
  await call('GET', '/api/v1/dispensers', 'view');
  await call('GET', '/api/v1/prices', 'view');
  const authorized = await call('POST', '/api/v1/dispensers/1/1/authorize', 'operate', { grade: 1, volume: 1.5 });
  assert.equal(authorized.status, 200);
  const fill = authorized.body.fill_id;
  await waitFor('the fill to end', async () => {
    const answer = await call('GET', `/api/v1/fills/${fill}`, 'view');
    return answer.status === 200 && answer.body.finished_at !== null;
  });
  await call('GET', '/api/v1/fills?status=all', 'view');
  await call('GET', '/api/v1/dispensers/1/1/totals/1', 'view');
  await call('POST', `/api/v1/fills/${fill}/lock`, 'operate');
  await call('POST', `/api/v1/fills/${fill}/unlock`, 'operate');
  await call('POST', `/api/v1/fills/${fill}/clear`, 'operate', { reference: 'till 1' });
  await call('POST', '/api/v1/dispensers/1/2/stop', 'operate');
  await call('POST', '/api/v1/stop', 'operate');
  const shift = await call('POST', '/api/v1/shifts/close', 'operate');
  await call('GET', '/api/v1/shifts', 'view');
  await call('GET', `/api/v1/shifts/${shift.body.id}`, 'view');
  await call('GET', '/api/v1/events', 'view');

  // Refusals: each is a problem document.
  await call('GET', '/api/v1/dispensers', undefined);
  await call('GET', '/api/v1/dispensers', 'not-a-token-of-this-station');
  await call('PUT', '/api/v1/prices', 'operate', prices);
  await call('GET', '/api/v1/fills/999999', 'view');
  await call('GET', '/api/v1/fills?limit=0', 'view');
  await call('POST', '/api/v1/dispensers/1/2/authorize', 'operate', '{"grade":');
  await call('POST', '/api/v1/dispensers/1/9/authorize', 'operate', { grade: 1 });
  await call('POST', `/api/v1/fills/${fill}/lock`, 'operate');
  await call('POST', '/api/v1/dispensers/1/1/authorize', 'operate', { grade: 1 }, { 'Idempotency-Key': 'k1' });
  await call('POST', '/api/v1/dispensers/1/1/authorize', 'operate', { grade: 2 }, { 'Idempotency-Key': 'k1' });

  assert.deepEqual(problems, []);
  for (const expected of ['GET /health 200', 'GET /fills/{id} 200', 'GET /shifts/{id} 200', 'GET /dispensers 401',
    'PUT /prices 403', 'GET /fills/{id} 404', 'GET /fills 400', 'POST /fills/{id}/lock 409',
    'POST /dispensers/{c}/{d}/authorize 422']) {
    assert.ok(seen.has(expected), `${expected} was not seen: ${[...seen].join(', ')}`);
  }
});
