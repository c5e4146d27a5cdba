// The dashboard in Debian's chromium against `quorlan serve` on a simulated
// line, used as an operator would. QUORLAN_BIN names the quorlan binary;
// QUORLAN_SCREENSHOTS, when set, is where the forecourt, journal, unpaid
// sales and shift report pictures go (docs/images refreshes the
// documentation's).
//
// Every wait is for a condition with a generous deadline, never for a time;
// what the page shows only for a while (a state that lasts one poll, a notice
// that goes after seconds) is recorded as it happens and looked up later, so
// a slow machine changes how long a step takes, not what it finds. A step
// that fails says which it was and what the page showed then.
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { after, afterEach, before, test } from 'node:test';
import { seriousViolations } from './axe.mjs';
import { SimulatorPort, Station, kOtherTill, kTokens, waitFor } from './station.mjs';

const { chromium } = await import('playwright-core').catch(() => {
  throw new Error('playwright-core is missing from tests/web/node_modules: run scripts/install-deps.sh');
});

const kWait = { timeout: 60000 };
const kPrices = { 1: '52.90', 2: '54.10', 3: '58.30', 4: '61.00' };

let station;
let browser;
const requestedUrls = [];
const writes = []; // "METHOD path" of every write the pages sent
let toldRole = false; // whether this station answers GET /api/v1/session
const streamResumes = []; // the Last-Event-ID of each event stream opened
const pageErrors = []; // uncaught errors in any page, checked after each test
// The configured nozzles of each dispenser (the default is 1 to 4).
const kNozzles = [1, 2, 3];

// A zone where it is about noon now, so "today's fills" never straddles a
// midnight while the test runs.
function noonZone() {
  const offset = 12 - new Date().getUTCHours(); // -11..12
  return offset === 0 ? 'Etc/UTC' : `Etc/GMT${offset > 0 ? '-' : '+'}${Math.abs(offset)}`;
}

const kOffice = { viewport: { width: 1366, height: 768 } };
const kTablet = { viewport: { width: 800, height: 1280 }, isMobile: true, hasTouch: true };

async function openPage(address, screen = kOffice) {
  const context = await browser.newContext({ ...screen, timezoneId: noonZone() });
  const page = await context.newPage();
  page.on('request', (request) => {
    requestedUrls.push(request.url());
    if (request.method() !== 'GET') writes.push(`${request.method()} ${new URL(request.url()).pathname}`);
    if (request.url().endsWith('/api/v1/events')) streamResumes.push(request.headers()['last-event-id']);
  });
  // Not thrown here: a throw in an event handler would end the run without
  // saying where; each test checks the list when it ends.
  page.on('pageerror', (error) => pageErrors.push(error.message));
  await page.goto(address ?? station.url);
  return page;
}

async function signIn(page, token) {
  await page.fill('#login-token', token);
  await page.click('#login-form button[type=submit]');
}

const tile = (page, dispenser) => page.locator(`.tile[data-dispenser="1/${dispenser}"]`);

// Records every state and volume each tile shows, so that a state that lasts
// a single poll is not missed between two looks.
async function recordTiles(page) {
  await page.evaluate(() => {
    window.tileHistory = {};
    const note = (key, field, value) => {
      const history = (window.tileHistory[key] ??= { states: [], volumes: [] });
      const list = history[field];
      if (value !== undefined && list[list.length - 1] !== value) list.push(value);
    };
    // Several events may land in one task, and the observer then runs once:
    // the states passed through are read from the records' old values and the
    // volumes from the text each record put in, not from the page as it is.
    const look = (records) => {
      for (const record of records) {
        const tileNode = record.target.closest?.('.tile') ?? record.target.parentElement?.closest('.tile');
        if (!tileNode) continue;
        if (record.attributeName === 'data-state') note(tileNode.dataset.dispenser, 'states', record.oldValue ?? undefined);
        const volume = tileNode.querySelector('.big');
        if (record.type === 'childList' && record.target === volume) {
          for (const node of record.addedNodes) note(tileNode.dataset.dispenser, 'volumes', node.textContent);
        }
      }
      for (const node of document.querySelectorAll('.tile')) {
        note(node.dataset.dispenser, 'states', node.dataset.state);
        note(node.dataset.dispenser, 'volumes', node.querySelector('.big').textContent);
      }
    };
    new MutationObserver(look).observe(document.getElementById('tiles'), {
      subtree: true,
      attributes: true,
      attributeOldValue: true,
      attributeFilter: ['data-state'],
      childList: true,
      characterData: true,
    });
    look([]);
    // A notice shows for seconds only: every one shown is kept.
    window.notices = [];
    new MutationObserver(() => {
      const notice = document.getElementById('notice');
      if (!notice.hidden && notice.textContent) window.notices.push(notice.textContent);
    }).observe(document.getElementById('notice'), { childList: true, characterData: true, subtree: true, attributes: true });
  });
}

// A pump filling, with at least this many litres on its tile.
async function waitForLitres(page, dispenser, litres) {
  await page.waitForFunction(
    ([key, least]) => {
      const node = document.querySelector(`.tile[data-dispenser="${key}"]`);
      return node.dataset.state === 'filling' && Number(node.querySelector('.big').textContent) >= least;
    },
    [`1/${dispenser}`, litres],
    kWait,
  );
}

async function waitForNotice(page, text) {
  await page.waitForFunction((wanted) => window.notices.some((notice) => notice.includes(wanted)), text, kWait);
}

// What the page shows, for the message of a step that failed.
async function whatPageShows(page) {
  try {
    return await page.evaluate(() => {
      const text = (id) => document.getElementById(id)?.textContent.trim() ?? '';
      const tiles = [...document.querySelectorAll('.tile')].map((node) => `${node.dataset.dispenser} ${node.dataset.state} ${node.querySelector('.big')?.textContent}`);
      const view = [...document.querySelectorAll('[role=tabpanel]')].find((panel) => !panel.hidden)?.id;
      return JSON.stringify({ live: text('live'), view, tiles, notice: text('notice'), notices: window.notices, history: window.tileHistory, errors: [text('sales-error'), text('shift-error'), text('authorize-error')].filter(Boolean) });
    });
  } catch (error) {
    return `(the page could not be read: ${error.message})`;
  }
}

// One step of a test: when it fails, the error names the step and what the page showed.
async function step(page, what, action) {
  try {
    return await action();
  } catch (error) {
    throw new Error(`step "${what}" failed: ${error.message}\nthe page showed: ${await whatPageShows(page)}`, { cause: error });
  }
}

function assertNoPageErrors() {
  assert.deepEqual(pageErrors.splice(0), [], 'errors in the page');
}

const history = (page, dispenser) => page.evaluate((key) => window.tileHistory[key] ?? { states: [], volumes: [] }, `1/${dispenser}`);

async function waitForState(page, dispenser, state) {
  await page.waitForFunction(
    ([key, wanted]) => window.tileHistory[key]?.states.includes(wanted),
    [`1/${dispenser}`, state],
    kWait,
  );
}

// Nothing runs off the side of the screen, and every button is a finger wide.
async function assertFits(page) {
  const overflow = await page.evaluate(() => document.scrollingElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px too wide`);
  const small = await page.$$eval('button', (buttons) =>
    buttons.filter((b) => b.offsetParent && b.getBoundingClientRect().height < 44).map((b) => b.textContent),
  );
  assert.deepEqual(small, [], 'buttons under 44 px tall');
}

async function screenshot(page, name) {
  const folder = process.env.QUORLAN_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: path.join(folder, name), clip: { x: 0, y: 0, width: 1366, height: 440 } });
}

// The unpaid sales and the shift report as this station shows them, on a
// counter screen and a phone, full length.
const kScreens = {
  counter: { viewport: { width: 1280, height: 800 }, hasTouch: true },
  phone: { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true },
};

async function pictureTab(tab, ready, name) {
  const folder = process.env.QUORLAN_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  for (const [screenName, screen] of Object.entries(kScreens)) {
    const page = await openPage(`${station.url}#token=${kTokens.admin}`, { ...screen, reducedMotion: 'reduce' });
    try {
      await page.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
      await page.click(`#tab-${tab}`);
      await page.locator(ready).first().waitFor(kWait);
      await page.screenshot({ path: path.join(folder, `dashboard-${name}-${screenName}.png`), fullPage: true });
    } finally {
      await page.context().close();
    }
  }
}

before(async () => {
  assert.ok(process.env.QUORLAN_BIN, 'QUORLAN_BIN names the quorlan binary');
  station = new Station(process.env.QUORLAN_BIN, [1, 2, 3, 4], 'sim', kNozzles);
  await station.start();
  browser = await chromium.launch({ executablePath: process.env.QUORLAN_CHROMIUM ?? '/usr/bin/chromium' });
  const session = await fetch(`${station.url}api/v1/session`, { headers: { Authorization: `Bearer ${kTokens.view}` } });
  toldRole = session.ok;
});

afterEach(assertNoPageErrors);

after(async () => {
  await browser?.close();
  await station?.dispose();
});

test('a wrong token is refused with a clear message', async () => {
  const page = await openPage();
  assert.match(await page.textContent('#login-help'), /station manager/, 'the sign-in page says where a token comes from');
  assert.deepEqual(await seriousViolations(page), [], 'the sign-in page: serious or critical accessibility violations');
  await signIn(page, 'not-a-token-of-this-station');
  await page.locator('#login-error', { hasText: 'refused' }).waitFor(kWait);
  assert.equal(await page.locator('#app').isHidden(), true);
  await page.context().close();
});

let operator;

test('an admin signs in from the address and sets the prices', async () => {
  operator = await openPage(`${station.url}#token=${kTokens.admin}`);
  await operator.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
  assert.ok(!operator.url().includes('token'), 'the fragment is cleared from the address');
  // A station without GET /session does not tell the role: the page offers
  // every control and lets the station judge each write.
  await operator.locator('#who', { hasText: toldRole ? 'admin' : 'not told' }).waitFor(kWait);
  await recordTiles(operator);
  assert.deepEqual(await seriousViolations(operator), [], 'the forecourt: serious or critical accessibility violations');

  await operator.click('#tab-prices');
  for (const [grade, price] of Object.entries(kPrices)) {
    await operator.fill(`input[data-all-grade="${grade}"]`, price);
  }
  await operator.click('#prices-form button[type=submit]');
  const outcome = operator.locator('#prices-outcome');
  await step(operator, 'the price change answers', () => outcome.waitFor(kWait));
  for (const dispenser of [1, 2, 3, 4]) {
    const row = outcome.locator(`tr[data-dispenser="1/${dispenser}"]`);
    assert.equal((await row.locator('td').nth(1).textContent()).trim(), 'downloaded');
  }
  await operator.click('#tab-forecourt');
  await step(operator, 'pump 1 is idle with its prices', () => tile(operator, 1).locator('.state', { hasText: 'Idle' }).waitFor(kWait));
});

test('a fill with a volume limit is authorized, fills, finishes and lands in the journal', async () => {
  await tile(operator, 1).getByRole('button', { name: /Authorize/ }).click();
  await operator.check('#authorize-grades input[value="1"]');
  await operator.check('input[name=limit][value=volume]');
  await operator.fill('#authorize-limit', '5');
  await operator.click('#authorize-form button[type=submit]');

  await step(operator, 'pump 1 is authorized', () => waitForState(operator, 1, 'authorized'));
  await step(operator, 'pump 1 fills', () => waitForState(operator, 1, 'filling'));
  await step(operator, 'pump 1 shows a litre or more while filling', () => waitForLitres(operator, 1, 1));
  await screenshot(operator, 'dashboard-forecourt.png');
  await assertFits(operator);
  await step(operator, 'pump 1 finishes at its limit', () => waitForState(operator, 1, 'finished'));

  const { states, volumes } = await history(operator, 1);
  assert.ok(states.indexOf('authorized') < states.indexOf('filling'), `states in order: ${states}`);
  assert.ok(states.indexOf('filling') < states.indexOf('finished'), `states in order: ${states}`);
  const during = volumes.map(Number).filter((v) => v > 0 && v < 5);
  assert.ok(during.length >= 2, `the volume rose in steps: ${volumes}`);
  assert.deepEqual(during, [...during].sort((a, b) => a - b), 'the volume only rises');
  assert.equal(await tile(operator, 1).locator('.big').first().textContent(), '5.00');

  await operator.click('#tab-journal');
  const row = operator.locator('#fills tbody tr').first();
  await step(operator, "pump 1's fill is in the journal", () => row.waitFor(kWait));
  const cells = (await row.locator('td').allTextContents()).map((text) => text.trim());
  assert.deepEqual(cells.slice(2, 8), ['Line 1 · Pump 1', '1', '1', '52.90', '5.00', '264.50']);
  assert.equal(cells[8], '5.00 l');
  assert.match(cells[9], /admin-desk/);
  const totals = (await operator.locator('#grade-totals tr[data-grade="1"] td').allTextContents()).map((t) => t.trim());
  assert.deepEqual(totals, ['Grade 1', '1', '5.00', '264.50']);
  await screenshot(operator, 'dashboard-journal.png');

  const [download] = await Promise.all([operator.waitForEvent('download'), operator.click('#export-csv')]);
  const csv = readFileSync(await download.path(), 'utf8').split('\r\n');
  assert.match(csv[0], /^id,finished_at,channel,dispenser,nozzle,grade,price,volume,amount,limit,authorized_by/);
  assert.match(csv[1], /^\d+,[^,]+,1,1,1,1,52\.90,5\.00,264\.50,5\.00 l,admin-desk,/);

  await operator.selectOption('#totals-dispenser', '1/1');
  await operator.selectOption('#totals-nozzle', '1');
  await operator.click('#totals-form button[type=submit]');
  await step(operator, "nozzle 1's totals are read", () => operator.locator('#totals-result', { hasText: 'nozzle 1: ' }).waitFor(kWait));
  assert.match(await operator.textContent('#totals-result'), /5\.00 l, amount 264\.50/);
  await operator.click('#tab-forecourt');
});

test('a stop ends a running fill short of its end', async () => {
  await tile(operator, 2).getByRole('button', { name: /Authorize/ }).click();
  await operator.check('#authorize-grades input[value="2"]');
  // A plain authorization sends no grade down the line (the customer's
  // nozzle decides); a preset does, so the simulated customer takes nozzle 2.
  await operator.check('input[name=limit][value=volume]');
  await operator.fill('#authorize-limit', '40');
  await operator.click('#authorize-form button[type=submit]');
  await step(operator, 'pump 2 fills half a litre', () => waitForLitres(operator, 2, 0.5));
  await tile(operator, 2).getByRole('button', { name: /Stop/ }).click();
  await step(operator, 'pump 2 stops', () => waitForState(operator, 2, 'stopped'));
  await step(operator, "pump 2's fill is in the journal", () =>
    operator.locator('#fills tbody tr', { hasText: 'Pump 2' }).waitFor({ state: 'attached', ...kWait }));
  const cells = (await operator.locator('#fills tbody tr', { hasText: 'Pump 2' }).locator('td').allTextContents()).map((t) => t.trim());
  assert.equal(cells[4], '2');
  // Short of its 40-litre limit, however slowly the stop was pressed.
  assert.ok(Number(cells[6]) > 0 && Number(cells[6]) < 40, `stopped short: ${cells[6]} l`);
});

test('the emergency stop asks first, then stops every fill', async () => {
  // A fill far longer than the test (1000 s at the simulator's flow): a
  // plain one ends by itself at 10 litres, which a slow run could take for
  // the emergency stop's work.
  await tile(operator, 3).getByRole('button', { name: /Authorize/ }).click();
  await operator.check('input[name=limit][value=volume]');
  await operator.fill('#authorize-limit', '500');
  await operator.click('#authorize-form button[type=submit]');
  await step(operator, 'pump 3 fills', () => waitForState(operator, 3, 'filling'));
  await operator.click('#emergency');
  await operator.click('#emergency-dialog [data-close]');
  assert.equal(await operator.locator('#emergency-dialog').isVisible(), false);
  assert.equal(await tile(operator, 3).getAttribute('data-state'), 'filling', 'cancelled: nothing stopped');

  await operator.click('#emergency');
  await operator.click('#emergency-dialog button[type=submit]');
  await step(operator, 'pump 3 stops', () => waitForState(operator, 3, 'stopped'));
  // The notice goes after a few seconds: it is looked up among those shown.
  await step(operator, 'the page says every dispenser stopped', () => waitForNotice(operator, 'Every dispenser stopped.'));
});

// Settlement and shifts exist only on a station that keeps them; an older
// one has neither and these are skipped, saying why.
async function answers(route) {
  const response = await fetch(`${station.url}api/v1${route}`, { headers: { Authorization: `Bearer ${kTokens.admin}` } });
  return response.ok ? response.json() : null;
}

test('an unpaid sale is cleared from the page', async (t) => {
  const dispensers = await answers('/dispensers');
  if (!dispensers?.some((d) => typeof d.unpaid === 'number')) return t.skip('this station keeps no unpaid sales (no `unpaid` on its dispensers)');
  await operator.reload();
  await operator.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
  await operator.click('#tab-sales');
  const first = operator.locator('#unpaid tbody tr').first();
  await step(operator, 'the unpaid sales are listed', () => first.waitFor(kWait));
  const id = await first.getAttribute('data-fill');
  const sale = operator.locator(`#unpaid tr[data-fill="${id}"]`);
  assert.match(await operator.textContent('#unpaid-owed'), /^Owed: \d+ sales?, \d+\.\d\d$/);

  // The other till takes the sale: this page shows it held by that till,
  // and offers the admin only to release it.
  const lock = await fetch(`${station.url}api/v1/fills/${id}/lock`, { method: 'POST', headers: { Authorization: `Bearer ${kOtherTill.secret}` } });
  assert.equal(lock.status, 200);
  await step(operator, 'the sale shows held by the other till', () => sale.locator('.held', { hasText: /^Held by pos-2 for (2 min|1 min \d+ s)$/ }).waitFor(kWait));
  assert.deepEqual(await sale.getByRole('button').allTextContents(), ['Unlock']);
  await pictureTab('sales', '#unpaid tbody tr .held', 'unpaid');
  await sale.getByRole('button', { name: 'Unlock' }).click();
  await step(operator, 'the released sale can be paid', () => sale.getByRole('button', { name: 'Paid' }).waitFor(kWait));
  await sale.getByRole('button', { name: 'Paid' }).click();
  await step(operator, 'the paid sale leaves the list', () => sale.waitFor({ state: 'detached', ...kWait }));
  assert.deepEqual(await seriousViolations(operator), []);
  await operator.click('#tab-forecourt');
  return undefined;
});

test('the shift is closed from the page and its report read', async (t) => {
  if (!(await answers('/shifts'))) return t.skip('this station keeps no shifts (GET /api/v1/shifts does not answer)');
  await operator.reload();
  await operator.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
  await operator.click('#tab-shift');
  await operator.click('#shift-close');
  await operator.click('#shift-dialog button[type=submit]');
  const report = operator.locator('#shift-report');
  await step(operator, 'the report of the closed shift shows', () => report.locator('h2').waitFor(kWait));
  // Every nozzle answered here: no line of the report is left blank or says "null".
  assert.doesNotMatch(await report.textContent(), /null|undefined|NaN/);
  // Its span with dates; the nozzles that sold are read, the others folded.
  assert.match(await report.locator('p').first().textContent(), /^From \d{1,2} \w{3} \d{4}, \d\d:\d\d \S+ to \d{1,2} \w{3} \d{4}, \d\d:\d\d \S+, closed by admin-desk\.$/);
  const sold = await report.locator('table.nozzles tbody tr').allTextContents();
  assert.deepEqual(sold.map((row) => row.match(/Pump \d · Nozzle \d/)[0]), ['Pump 1 · Nozzle 1', 'Pump 2 · Nozzle 2', 'Pump 3 · Nozzle 1']);
  assert.equal(await report.locator('details.quiet summary').textContent(), `${4 * kNozzles.length - 3} more nozzles sold nothing, and their meters did not move`);
  assert.deepEqual(await seriousViolations(operator), []);
  await pictureTab('shift', '#shift-report h2', 'shift');

  // The journal offers each pump's configured nozzles, as the report names them.
  await operator.click('#tab-journal');
  await operator.selectOption('#totals-dispenser', '1/4');
  await step(operator, "the journal offers pump 4's nozzles", () =>
    operator.waitForFunction((count) => document.querySelectorAll('#totals-nozzle option').length === count, kNozzles.length, kWait));
  assert.deepEqual(await operator.locator('#totals-nozzle option').allTextContents(), kNozzles.map((n) => `Nozzle ${n}`));
  await operator.click('#tab-forecourt');
  return undefined;
});

test('a view token on a tablet sees the station but is offered no action', async () => {
  const page = await openPage(undefined, kTablet);
  await signIn(page, kTokens.view);
  await tile(page, 1).waitFor(kWait);
  await assertFits(page);
  if (!toldRole) {
    // Not told the role, the page offers Authorize; the station's refusal
    // comes back in words and takes the controls away.
    await tile(page, 1).getByRole('button', { name: /^Authorize/ }).click();
    await page.click('#authorize-form button[type=submit]');
    await page.locator('#authorize-error', { hasText: 'may not do that' }).waitFor(kWait);
    await page.keyboard.press('Escape');
  }
  await page.locator('#who', { hasText: 'view' }).waitFor(kWait);
  assert.equal(await page.getByRole('button', { name: /Authorize|Stop|Emergency/ }).count(), 0);
  await page.click('#tab-prices');
  assert.equal(await page.locator('#prices-table input').count(), 0);
  assert.equal(await page.locator('#prices-form button[type=submit]').isVisible(), false);
  assert.equal((await page.locator('#prices-table tbody tr').first().locator('td').first().textContent()).trim(), '52.90');
  await page.context().close();
});

test('the page says "not live" while the service is down and recovers by itself', async () => {
  const stopped = await station.stop();
  assert.deepEqual(stopped, { code: 0, signal: null }, 'SIGTERM ends the service cleanly');
  await operator.locator('#live', { hasText: 'not live' }).waitFor(kWait);
  await station.start();
  await operator.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
  assert.match(streamResumes[streamResumes.length - 1] ?? '', /^\d+$/, 'the stream resumes from the last event seen');
  await tile(operator, 1).locator('.state', { hasText: /Idle|Finished/ }).waitFor(kWait);
});

test('a line that goes down shows at once, on the page and on its tiles', async () => {
  const simulator = new SimulatorPort(process.env.QUORLAN_BIN, 2);
  const serial = new Station(process.env.QUORLAN_BIN, [1, 2], await simulator.start());
  try {
    await serial.start();
    const page = await openPage(`${serial.url}#token=${kTokens.view}`);
    await page.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
    await tile(page, 2).waitFor(kWait);
    assert.equal(await page.locator('#lines-down').isVisible(), false);

    await simulator.stop();
    await page.locator('#lines-down', { hasText: 'Line 1 is down' }).waitFor(kWait);
    for (const dispenser of [1, 2]) {
      await tile(page, dispenser).locator('.link', { hasText: 'Line 1 down' }).waitFor(kWait);
    }
    await screenshot(page, 'dashboard-line-down.png');
    await page.context().close();
  } finally {
    await simulator.stop();
    await serial.dispose();
  }
});

test('no token ever travels in an address sent to the station, and nothing is probed', () => {
  assert.deepEqual(
    writes.filter((write) => write.includes('/dispensers/0/') || (write.startsWith('PUT') && !write.endsWith('/prices'))),
    [],
  );
  assert.equal(writes.filter((write) => write === 'PUT /api/v1/prices').length, 1, `one price change, by the admin: ${writes}`);
  for (const secret of Object.values(kTokens)) {
    assert.ok(!requestedUrls.some((url) => url.includes(secret)), 'a secret appeared in a request URL');
  }
  assert.ok(requestedUrls.some((url) => url.includes('/api/v1/events')));
});
