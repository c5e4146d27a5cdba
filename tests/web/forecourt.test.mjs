// SPDX-License-Identifier: Apache-2.0
// The dashboard against a stand-in station that answers as the contract says
// (a till's token, calling pumps, unpaid sales, currency, the station's zone),
// on a counter screen and a phone: an attendant authorizes a calling pump in
// one step, meets a pump that does not answer, and loses the station.
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { seriousViolations } from './axe.mjs';
import { ContractStation, kManagerToken, kToken } from './contract-station.mjs';
import { waitFor } from './station.mjs';

const { chromium } = await import('playwright-core').catch(() => {
  throw new Error('playwright-core is missing from tests/web/node_modules: run scripts/install-deps.sh');
});

const kWait = { timeout: 30000 };
const kScreens = {
  counter: { viewport: { width: 1280, height: 800 }, hasTouch: true },
  phone: { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true },
};

let browser;
before(async () => {
  browser = await chromium.launch({ executablePath: process.env.QUORLAN_CHROMIUM ?? '/usr/bin/chromium' });
});
after(async () => browser?.close());

// The whole page, or with `fullPage` false what the screen shows.
async function screenshot(page, name, fullPage = true) {
  const folder = process.env.QUORLAN_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: path.join(folder, name), fullPage });
}

// Wholly on the screen, and not under the header that stays on top.
async function assertInView(page, locator, what) {
  const box = await locator.boundingBox();
  const { width, height } = page.viewportSize();
  const header = await page.locator('header.bar').boundingBox();
  const onTop = (await page.locator('header.bar').evaluate((bar) => getComputedStyle(bar).position)) === 'sticky';
  const inHeader = await locator.evaluate((node) => Boolean(node.closest('header.bar')));
  const covered = onTop && !inHeader ? header.y + header.height : 0;
  assert.ok(box && box.y >= covered && box.y + box.height <= height && box.x >= 0 && box.x + box.width <= width,
    `${what} is out of view: ${JSON.stringify(box)} on a ${width} × ${height} screen, header to ${covered}`);
}

// A page signed in with a token, live.
async function open(station, screen, token = kToken) {
  const context = await browser.newContext({ ...screen, reducedMotion: 'reduce', acceptDownloads: true });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (/Content Security Policy/i.test(message.text())) errors.push(message.text());
  });
  await page.goto(`${station.url}#token=${token}`);
  await page.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
  return { page, context, errors };
}

// The screen's own width: a phone's layout viewport grows with content too wide.
async function assertUsable(page) {
  const overflow = await page.evaluate((width) => document.scrollingElement.scrollWidth - width, page.viewportSize().width);
  assert.ok(overflow <= 0, `the page is ${overflow} px too wide`);
  const small = await page.$$eval('button', (buttons) =>
    buttons.filter((b) => b.offsetParent && b.getBoundingClientRect().height < 44).map((b) => b.textContent),
  );
  assert.deepEqual(small, [], 'buttons under 44 px tall');
  assert.deepEqual(await seriousViolations(page), [], 'serious or critical accessibility violations');
}

const tile = (page, dispenser) => page.locator(`.tile[data-dispenser="1/${dispenser}"]`);

for (const [screenName, screen] of Object.entries(kScreens)) {
  test(`an attendant's forecourt on the ${screenName}`, async () => {
    const station = new ContractStation();
    await station.start();
    const context = await browser.newContext({ ...screen, reducedMotion: 'reduce' });
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    page.on('console', (message) => {
      if (/Content Security Policy/i.test(message.text())) errors.push(message.text());
    });
    try {
      await page.goto(`${station.url}#token=${kToken}`);
      await page.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
      await page.locator('#who', { hasText: 'operate' }).waitFor(kWait);

      // A customer waits at nozzle 2 of pump 1: said in words, and one step away.
      const calling = tile(page, 1);
      await calling.locator('.calling-note', { hasText: 'nozzle 2' }).waitFor(kWait);
      assert.equal((await calling.locator('.state').textContent()).trim(), 'Calling');
      // Reached by keyboard alone.
      let focused = '';
      for (let step = 0; step < 40 && focused !== 'quick-1-1'; step += 1) {
        await page.keyboard.press('Tab');
        focused = await page.evaluate(() => document.activeElement?.id ?? '');
      }
      assert.equal(focused, 'quick-1-1', 'the calling pump\'s prepay field is reached with Tab');
      await screenshot(page, `dashboard-calling-${screenName}.png`);
      await assertUsable(page);

      // Each tile's facts, as an attendant reads them.
      const why = tile(page, 2).locator('.why');
      assert.match(await why.textContent(), /does not answer/);
      assert.equal(await tile(page, 2).getByRole('button', { name: /^Authorize/ }).isDisabled(), true);
      assert.equal(await tile(page, 3).locator('.sale-label').textContent(), 'Last sale');
      assert.equal(await tile(page, 3).locator('.unpaid').textContent(), 'Unpaid: 2 · 1058.00 EUR');
      assert.equal(await tile(page, 3).locator('.big').nth(1).textContent(), '1058.00 EUR');
      assert.equal(await tile(page, 4).locator('.figures > div').nth(2).locator('div').nth(1).textContent(), 'Super 95');

      await page.keyboard.type('20.00');
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.querySelector('.tile[data-dispenser="1/1"]').dataset.state === 'authorized', null, kWait);
      assert.deepEqual(station.writes, [{ method: 'POST', route: '/dispensers/1/1/authorize', body: { grade: 2, amount: 20 } }]);

      // A pump that does not acknowledge: the reason, and what to do.
      await tile(page, 4).getByRole('button', { name: /^Authorize/ }).click();
      await page.locator('#authorize-grades', { hasText: 'Diesel · 51.00 EUR' }).waitFor(kWait);
      await page.click('#authorize-form button[type=submit]');
      await page.locator('#authorize-error', { hasText: 'did not answer' }).waitFor(kWait);
      assert.match(await page.textContent('#authorize-error'), /Check that it is powered/);
      await page.keyboard.press('Escape');
      assert.equal(await page.locator('#authorize-dialog').isVisible(), false);

      // Every grade's price is on the screen, none scrolled out of sight.
      await page.click('#tab-prices');
      const cells = page.locator('#prices-table tbody tr').last().locator('td');
      assert.equal(await cells.count(), 4);
      for (const box of await Promise.all((await cells.all()).map((cell) => cell.boundingBox()))) {
        assert.ok(box.x >= 0 && box.x + box.width <= page.viewportSize().width, `a price cell off the screen: ${JSON.stringify(box)}`);
      }
      await assertUsable(page);
      await page.click('#tab-forecourt');

      // The station goes away: the emergency stop says so and still tries.
      await station.stop();
      await page.locator('#live', { hasText: 'not live' }).waitFor(kWait);
      await page.locator('#emergency', { hasText: 'unreachable' }).waitFor(kWait);
      assert.match(await tile(page, 3).locator('.why').textContent(), /cannot be reached/);
      await page.click('#emergency');
      assert.match(await page.textContent('#emergency-offline'), /sent anyway/);
      await screenshot(page, `dashboard-offline-${screenName}.png`);
      await assertUsable(page);
      await page.click('#emergency-dialog button[type=submit]');
      await page.locator('#emergency-error', { hasText: 'stop switch on the forecourt' }).waitFor(kWait);

      assert.ok(!station.writes.some((write) => write.method === 'PUT'), 'nothing probed the role');
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
      await station.stop().catch(() => {});
    }
  });
}

for (const [screenName, screen] of Object.entries(kScreens)) {
  test(`unpaid sales are held and cleared, and the shift is closed and read, on the ${screenName}`, async () => {
    const station = new ContractStation();
    station.dispensers[0] = { ...station.dispensers[0], state: 'idle', nozzle: null };
    await station.start();
    const context = await browser.newContext({ ...screen, acceptDownloads: true });
    const page = await context.newPage();
    try {
      await page.goto(`${station.url}#token=${kToken}`);
      await page.locator('#live', { hasText: /^live$/ }).waitFor(kWait);
      // The tile adds up what its pump is owed.
      await tile(page, 3).locator('.unpaid', { hasText: '1058.00 EUR' }).waitFor(kWait);

      await page.click('#tab-sales');
      const sale = page.locator('#unpaid tr[data-fill="8"]');
      await sale.waitFor(kWait);
      await sale.getByRole('button', { name: 'Lock' }).click();
      await page.locator('#unpaid tr[data-fill="8"].locked').waitFor(kWait);
      await page.locator('#unpaid tr[data-fill="8"]').getByRole('textbox').fill('card 4411');
      await page.locator('#unpaid tr[data-fill="8"]').getByRole('button', { name: 'Paid' }).click();
      await page.locator('#unpaid tr[data-fill="8"]').waitFor({ state: 'detached', ...kWait });
      await tile(page, 3).locator('.unpaid', { hasText: '529.00 EUR' }).waitFor({ state: 'attached', ...kWait });
      assert.deepEqual(
        station.writes.map((w) => [w.route, w.body]),
        [['/fills/8/lock', {}], ['/fills/8/clear', { reference: 'card 4411' }]],
      );
      await assertUsable(page);

      await page.click('#tab-shift');
      await page.click('#shift-close');
      await page.click('#shift-dialog button[type=submit]');
      const report = page.locator('#shift-report');
      await report.locator('h2', { hasText: 'Shift 1' }).waitFor(kWait);
      assert.match(await report.textContent(), /1 nozzle did not answer at the close/);
      assert.equal(await report.locator('tr.difference').count(), 1, 'the nozzle that differs is marked');
      assert.equal(await report.locator('svg.chart rect').count(), 5, 'a bar part per hour and grade sold');
      // When the shift began and ended, with their dates, in the station's zone.
      assert.match(await report.locator('p').first().textContent(), /^From 7 Dec 2026, 06:00 GMT\+5:45 to 7 Dec 2026, 14:00 GMT\+5:45, closed by pos-1\.$/);
      // Nozzles that sold nothing with meters that agree are folded; the ones
      // that sold, differ or did not answer are read at once.
      const shown = (await report.locator('table.nozzles tbody tr').allTextContents()).map((row) => row.match(/Pump \d · Nozzle \d/)[0]);
      assert.deepEqual(shown, ['Pump 3 · Nozzle 1', 'Pump 4 · Nozzle 2', 'Pump 5 · Nozzle 3', 'Pump 6 · Nozzle 4', 'Pump 7 · Nozzle 2']);
      assert.equal(await report.locator('details.quiet summary').textContent(), '27 more nozzles sold nothing, and their meters did not move');
      assert.equal(await report.locator('details.quiet tr').first().isVisible(), false);
      // The chart's key names every grade whole, inside the report.
      const key = report.locator('.legend li');
      assert.deepEqual(await key.allTextContents(), ['Diesel', 'Super 95', 'Super 98', 'Diesel Premium']);
      const card = await report.boundingBox();
      for (const item of await key.all()) {
        const box = await item.boundingBox();
        assert.ok(box.x >= card.x && box.x + box.width <= card.x + card.width, `a key cut: ${await item.textContent()}`);
        assert.equal(await item.evaluate((node) => node.scrollWidth <= node.clientWidth), true);
      }
      await screenshot(page, `dashboard-report-${screenName}.png`);
      await assertUsable(page);
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#shift-csv')]);
      assert.equal(download.suggestedFilename(), 'shift-1.csv');

      // The journal offers a pump's own nozzles, as the report names them.
      await page.click('#tab-journal');
      await page.selectOption('#totals-dispenser', '1/8');
      assert.deepEqual(await page.locator('#totals-nozzle option').allTextContents(), ['Nozzle 1', 'Nozzle 2', 'Nozzle 3', 'Nozzle 4']);
    } finally {
      await context.close();
      await station.stop().catch(() => {});
    }
  });
}

for (const [screenName, screen] of Object.entries(kScreens)) {
  test(`a pump that starts calling is seen from any view, and served in one step, on the ${screenName}`, async () => {
    const station = new ContractStation();
    await station.start();
    const { page, context, errors } = await open(station, screen);
    try {
      // Pump 1 has been calling since the page opened: the header says so.
      const badge = page.locator('#calling');
      await badge.locator('text=Line 1 · Pump 1 calling').waitFor(kWait);
      if (screenName === 'counter') {
        // On the counter screen a calling pump of the second row is served without scrolling.
        station.setDispenser({ dispenser: 7, state: 'calling', nozzle: 3 });
        await page.locator('.tile[data-dispenser="1/7"] .call-go', { hasText: 'Authorize Super 98' }).waitFor(kWait);
        await assertInView(page, tile(page, 7).locator('.call-go'), "pump 7's one-tap Authorize at the top of the page");
        station.setDispenser({ dispenser: 7, state: 'idle', nozzle: null });
        await badge.locator('text=Line 1 · Pump 1 calling').waitFor(kWait);
      }

      // The attendant reads the journal, far down the page, when pump 7 calls.
      await page.click('#tab-journal');
      await page.evaluate(() => window.scrollTo(0, document.scrollingElement.scrollHeight));
      station.setDispenser({ dispenser: 7, state: 'calling', nozzle: 3 });
      await badge.locator('text=2 pumps calling').waitFor(kWait);
      await assertInView(page, badge, 'the calling badge');
      assert.match(await badge.getAttribute('title'), /Line 1 · Pump 1, Line 1 · Pump 7/);

      // Each press shows the next calling pump, the one waiting longest first,
      // with its one-tap Authorize in view and focused.
      for (const pump of [1, 7, 1]) {
        await badge.click();
        assert.equal(await page.locator('#view-forecourt').isVisible(), true);
        const go = tile(page, pump).locator('.call-go');
        await assertInView(page, go, `pump ${pump}'s one-tap Authorize`);
        assert.equal(await go.evaluate((node) => node === document.activeElement), true, `pump ${pump}'s Authorize has the focus`);
      }
      await badge.click();
      await screenshot(page, `dashboard-calling-${screenName}.png`, false);
      // Served in one press. The answer is slow: the stream tells first that
      // the customer fills, and the older answer must not take the tile back.
      station.hold('/dispensers/1/7/authorize');
      await page.keyboard.press('Enter');
      await waitFor('the authorization to reach the station', () => station.held.received);
      station.setDispenser({ dispenser: 7, state: 'filling', nozzle: 3, volume: 1.5 });
      await page.waitForFunction(() => document.querySelector('.tile[data-dispenser="1/7"]').dataset.state === 'filling', null, kWait);
      // Once the answer is handled the (hidden) prepay field is emptied.
      await page.locator('#quick-1-7').evaluate((input) => (input.value = '7'));
      station.release();
      await page.waitForFunction(() => document.getElementById('quick-1-7').value === '', null, kWait);
      assert.equal(await tile(page, 7).getAttribute('data-state'), 'filling');
      assert.deepEqual(station.writes, [{ method: 'POST', route: '/dispensers/1/7/authorize', body: { grade: 3 } }]);

      // Served, and the other hung up: the header is quiet again.
      station.setDispenser({ dispenser: 1, state: 'idle', nozzle: null });
      station.setDispenser({ dispenser: 7, state: 'finished', nozzle: null });
      await badge.waitFor({ state: 'hidden', ...kWait });
      await assertUsable(page);
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
      await station.stop().catch(() => {});
    }
  });

  test(`a sale another till holds is shown held, and offers nothing this till can use, on the ${screenName}`, async () => {
    const station = new ContractStation();
    await station.start();
    // No customer waits here: the whole page's picture shows the sales alone.
    station.dispensers[0] = { ...station.dispensers[0], state: 'idle', nozzle: null };
    const { page, context, errors } = await open(station, screen);
    try {
      await page.click('#tab-sales');
      const row = (id) => page.locator(`#unpaid tr[data-fill="${id}"]`);
      await row(9).waitFor(kWait);
      // What is owed, above the list: sales 7, 8 and 9.
      assert.equal(await page.textContent('#unpaid-owed'), 'Owed: 3 sales, 1587.00 EUR');
      // Held by pos-2 for the time its hold has left, and no button to press.
      assert.match(await row(9).locator('.held').textContent(), /^Held by pos-2 for 1 min \d+ s$/);
      assert.equal(await row(9).getByRole('button').count(), 0);
      assert.equal(await row(9).getByRole('textbox').count(), 0);
      // Every time in the station's zone, with its date: these sales are not today's.
      for (const cell of await page.locator('#unpaid tbody tr td:nth-child(2)').allTextContents()) {
        assert.match(cell, /^7 Dec 2026, \d\d:\d\d GMT\+5:45$/);
      }

      // pos-2 takes sale 8 too, but its event is still on the way when this
      // till presses Lock: the refusal says who holds it and for how long,
      // in words, and the row shows it held.
      station.lockBy(8, 'pos-2', false);
      await row(8).getByRole('button', { name: 'Lock' }).click();
      const error = page.locator('#sales-error');
      await error.locator('text=held by pos-2').waitFor(kWait);
      const words = await error.textContent();
      assert.match(words, /^Sale 8 is held by pos-2 for another (2 min|1 min \d+ s): that till is taking the payment/);
      assert.doesNotMatch(words, /\d{4}-\d\d-\d\dT|hang up|pump cannot/);
      assert.equal(await row(8).getByRole('button').count(), 0);
      await screenshot(page, `dashboard-held-${screenName}.png`);
      await assertUsable(page);

      // A filter by pump totals that pump's sales.
      await page.selectOption('#sales-dispenser', '1/3');
      assert.equal(await page.textContent('#unpaid-owed'), 'Line 1 · Pump 3 owes 2 sales, 1058.00 EUR');

      // The manager may release another till's hold, and only that.
      const manager = await open(station, screen, kManagerToken);
      try {
        await manager.page.click('#tab-sales');
        const held = manager.page.locator('#unpaid tr[data-fill="9"]');
        await held.waitFor(kWait);
        assert.deepEqual(await held.getByRole('button').allTextContents(), ['Unlock']);
        await held.getByRole('button', { name: 'Unlock' }).click();
        await held.getByRole('button', { name: 'Lock', exact: true }).waitFor(kWait);
        assert.deepEqual(await held.getByRole('button').allTextContents(), ['Lock', 'Paid']);
        assert.deepEqual(manager.errors, []);
      } finally {
        await manager.context.close();
      }
      // Pump 3 holds two unpaid sales, the station's limit: an authorization
      // is refused, and the attendant is sent to take a payment.
      await page.click('#tab-forecourt');
      await tile(page, 3).getByRole('button', { name: /^Authorize/ }).click();
      await page.click('#authorize-form button[type=submit]');
      await page.locator('#authorize-error', { hasText: 'unpaid' }).waitFor(kWait);
      assert.equal(await page.textContent('#authorize-error'), 'Line 1 · Pump 3 holds 2 unpaid sales: take the payment for one (Unpaid) before the next customer.');
      await page.keyboard.press('Escape');
      assert.deepEqual(station.writes.map((w) => w.route), ['/fills/8/lock', '/fills/9/unlock', '/dispensers/1/3/authorize']);
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
      await station.stop().catch(() => {});
    }
  });
}
