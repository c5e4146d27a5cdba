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
import { ContractStation, kToken } from './contract-station.mjs';

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

async function screenshot(page, name) {
  const folder = process.env.QUORLAN_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: path.join(folder, name), fullPage: true });
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
      assert.match(await report.textContent(), /did not answer at the close/);
      assert.equal(await report.locator('tr.difference').count(), 1, 'the nozzle that differs is marked');
      assert.equal(await report.locator('svg.chart rect').count(), 2 + 1, 'two hours of Diesel, and its key');
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#shift-csv')]);
      assert.equal(download.suggestedFilename(), 'shift-1.csv');
      await assertUsable(page);
    } finally {
      await context.close();
      await station.stop().catch(() => {});
    }
  });
}
