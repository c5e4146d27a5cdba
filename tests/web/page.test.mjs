// The page's pure pieces, in node: the event stream parser (fed in awkward
// chunks, as a network delivers them), the search for today's first fill,
// the CSV export and the price check.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EventParser } from '../../station/web/site/js/events.js';
import { csvField, fillNote, toCsv, todaysStart } from '../../station/web/site/js/journal.js';
import { parsePrice } from '../../station/web/site/js/prices.js';

function parse(chunks) {
  const events = [];
  const parser = new EventParser((event) => events.push(event));
  for (const chunk of chunks) parser.push(chunk);
  return events;
}

test('the event parser finds every event however the bytes are cut', () => {
  const stream = 'id: 7\nevent: dispenser\ndata: {"a":1}\n\n: keep-alive\n\nid: 8\r\nevent: fill\r\ndata: {"b":2}\r\n\r\n';
  const expected = [
    { id: '7', event: 'dispenser', data: '{"a":1}' },
    { id: '8', event: 'fill', data: '{"b":2}' },
  ];
  assert.deepEqual(parse([stream]), expected);
  for (let cut = 1; cut < stream.length; cut += 1) {
    assert.deepEqual(parse([stream.slice(0, cut), stream.slice(cut)]), expected, `cut at ${cut}`);
  }
  assert.deepEqual(parse([...stream]), expected, 'one character at a time');
});

test('the event parser joins data lines and ignores what is not an event', () => {
  const cases = [
    ['data: one\ndata: two\n\n', [{ id: null, event: 'message', data: 'one\ntwo' }]],
    ['event: x\n\n', []],
    [': only a comment\n\n', []],
    ['data:tight\n\n', [{ id: null, event: 'message', data: 'tight' }]],
    ['data: unfinished\n', []],
  ];
  for (const [text, expected] of cases) assert.deepEqual(parse([text]), expected, JSON.stringify(text));
});

test("today's fills are found in a few requests, none of them missed", async () => {
  // [completed fill ids, the first of today's, or null for none]
  const cases = [
    [[], null],
    [[1, 2, 3], 1],
    [[1, 2, 3], null],
    [Array.from({ length: 100000 }, (_, i) => i + 1), 99001],
    [Array.from({ length: 5000 }, (_, i) => 3 * i + 7), 3 * 4000 + 7], // gaps: open rows are not listed
    [[5, 900, 901, 50000], 901],
  ];
  for (const [ids, firstToday] of cases) {
    let requests = 0;
    const first = async (after) => {
      requests += 1;
      const id = ids.find((candidate) => candidate > after);
      return id === undefined ? undefined : { id };
    };
    const today = (fill) => firstToday !== null && fill.id >= firstToday;
    const start = await todaysStart(first, today);
    const label = `${ids.length} fills, today's from ${firstToday}`;
    if (firstToday !== null) assert.ok(start < firstToday, `${label}: starts at ${start}`);
    // No more than the safety margin (256 ids) of yesterday's fills is read again.
    assert.ok(firstToday === null || firstToday - start <= 300, `${label}: reads little: ${start}`);
    assert.ok(requests <= 2 * Math.log2(Math.max(ids.at(-1) ?? 1, 2)) + 3, `${label}: ${requests} requests`);
  }
});

test('the CSV export quotes what needs quoting', () => {
  const fill = {
    id: 3, finished_at: '2026-12-07T10:15:02Z', channel: 1, dispenser: 2, nozzle: 1, grade: 1,
    price: 52.9, volume: 5, amount: 264.5, limit: { volume: 5 }, authorized_by: 'desk "A", east',
    authorized_at: '2026-12-07T10:14:50Z', recovered: false,
  };
  const [header, row, end] = toCsv([fill]).split('\r\n');
  assert.match(header, /^id,finished_at,channel,dispenser,nozzle,grade,price,volume,amount,limit,authorized_by/);
  assert.equal(row, '3,2026-12-07T10:15:02Z,1,2,1,1,52.90,5.00,264.50,5.00 l,"desk ""A"", east",2026-12-07T10:14:50Z,no');
  assert.equal(end, '');
});

test('the CSV export never hands a spreadsheet a formula', () => {
  // [a token name or other text, its cell]
  const cases = [
    ['=HYPERLINK("http://x","pay")', `"'=HYPERLINK(""http://x"",""pay"")"`],
    ['+1+2', `"'+1+2"`],
    ['-2+3', `"'-2+3"`],
    ['@SUM(A1)', `"'@SUM(A1)"`],
    ['\t=1+1', `"'\t=1+1"`],
    ['\r=1+1', `"'\r=1+1"`],
    ['pos-1', 'pos-1'],
    ['a=b', 'a=b'],
    ['-1.50', '-1.50'],
    ['0', '0'],
    ['', ''],
  ];
  for (const [text, cell] of cases) assert.equal(csvField(text), cell, JSON.stringify(text));
  const fill = { id: 1, authorized_by: '=cmd|" /C calc"!A0', limit: {}, recovered: false };
  const row = toCsv([fill]).split('\r\n')[1];
  assert.ok(row.includes(`"'=cmd|"" /C calc""!A0"`), row);
});

test('a price has one or two digits and at most two decimals', () => {
  const cases = [['52.90', 52.9], ['7', 7], ['0.01', 0.01], ['99.99', 99.99], [' 5.5 ', 5.5],
    ['0', null], ['0.00', null], ['100', null], ['5.505', null], ['-1', null], ['abc', null], ['', null], ['1e1', null]];
  for (const [text, expected] of cases) assert.equal(parsePrice(text), expected, text);
});

test("a sale's note says what its figures alone do not", () => {
  const cases = [
    [{ status: 'completed' }, ''],
    [{}, ''], // a station that does not tell statuses
    [{ status: 'cancelled', refund: 20 }, /^Cancelled.*Refund 20\.00/],
    [{ status: 'completed', mismatch: true }, /^Mismatch/],
    [{ status: 'completed', refund: 0 }, ''],
    [{ status: 'completed', refund: 4.5 }, /^Refund 4\.50 to the customer\.$/],
  ];
  for (const [fill, expected] of cases) {
    const note = fillNote(fill);
    if (typeof expected === 'string') assert.equal(note, expected, JSON.stringify(fill));
    else assert.match(note, expected, JSON.stringify(fill));
  }
});

test("the page's fixed words all come from the strings table", async () => {
  const { readFileSync } = await import('node:fs');
  const { kText } = await import('../../station/web/site/js/strings.js');
  const html = readFileSync(new URL('../../station/web/site/index.html', import.meta.url), 'utf8');
  const keys = [...html.matchAll(/data-(?:text|label)="([^"]*)"/g)].map((match) => match[1]);
  assert.ok(keys.length > 40, `only ${keys.length} labels`);
  for (const key of keys) assert.equal(typeof kText[key], 'string', `no string for ${key}`);
  // Outside the table: only markup, and a configuration key, which is no word to translate.
  const words = html
    .replace(/<(script|style)[\s\S]*?<\/\1>/g, '')
    .replace(/<code>[^<]*<\/code>/g, '')
    .replace(/<[^>]*>/g, '')
    .trim();
  assert.equal(words, '');
  assert.doesNotMatch(html, /aria-label="/, 'a screen reader name outside the table');
});

test('the newest shifts are found in a few requests, however many were closed', async () => {
  const { startOf } = await import('../../station/web/site/js/search.js');
  // [closed shift ids, how many to list, the `after` to read from]
  const cases = [
    [[], 100, 0],
    [[1], 100, 0],
    [Array.from({ length: 99 }, (_, i) => i + 1), 100, 0],
    [Array.from({ length: 5000 }, (_, i) => i + 1), 100, 4900],
    [[3, 4, 70, 71, 2000], 1, 1999],
  ];
  for (const [ids, listed, from] of cases) {
    let requests = 0;
    const first = async (after) => {
      requests += 1;
      const id = ids.find((candidate) => candidate > after);
      return id === undefined ? undefined : { id };
    };
    assert.equal(await startOf(first, () => false, listed), from, `${ids.length} shifts`);
    assert.ok(requests <= 2 * Math.log2(Math.max(ids.at(-1) ?? 1, 2)) + 3, `${ids.length} shifts: ${requests} requests`);
  }
});

test("the journal offers a pump's own nozzles", async () => {
  const { configuredNozzles } = await import('../../station/web/site/js/journal.js');
  const report = { nozzles: [1, 2, 3].map((nozzle) => ({ channel: 1, dispenser: 2, nozzle })).concat([{ channel: 2, dispenser: 2, nozzle: 6 }]) };
  const prices = (...grades) => new Map(grades.map((grade) => [grade, 50]));
  // [pump, newest shift report, the pump's prices, nozzles offered]
  const cases = [
    ['1/2', report, prices(1, 2, 3, 4), [1, 2, 3]], // the report names them, whatever is priced
    ['2/2', report, prices(1), [6]],
    ['1/5', report, prices(4, 1, 2), [1, 2, 4]], // a pump the report does not list: its priced grades
    ['1/5', null, prices(1, 2, 9), [1, 2]], // never a nozzle past the last
    ['1/5', null, new Map(), [1, 2, 3, 4]], // nothing known: the configuration's default
    ['1/5', { nozzles: [] }, undefined, [1, 2, 3, 4]],
  ];
  for (const [key, newest, priced, expected] of cases) assert.deepEqual(configuredNozzles(key, newest, priced), expected, `${key} ${JSON.stringify(newest)}`);
});

test('a shift report folds the nozzles that sold nothing and agree, never one to look at', async () => {
  const { splitNozzles } = await import('../../station/web/site/js/shift.js');
  const figures = (volume, amount) => ({ volume, amount });
  const nozzle = (name, fields) => ({ name, totals_close: figures(100, 5000), journal: figures(0, 0), difference: figures(0, 0), ...fields });
  const nozzles = [
    nozzle('quiet'),
    nozzle('sold', { journal: figures(5, 264.5) }),
    nozzle('moved without a sale', { difference: figures(0.5, 0) }),
    nozzle('money without fuel', { difference: figures(0, 0.01) }),
    nozzle('within rounding', { difference: figures(0.001, -0.004) }),
    nozzle('no answer', { totals_close: null, difference: null }),
    nozzle('a station that does not tell', { journal: undefined }),
  ];
  const [busy, quiet] = splitNozzles(nozzles);
  assert.deepEqual(busy.map((n) => n.name), ['sold', 'moved without a sale', 'money without fuel', 'no answer']);
  assert.deepEqual(quiet.map((n) => n.name), ['quiet', 'within rounding', 'a station that does not tell']);
});

test("a sale another till holds offers this till nothing it could use, and a refusal says why", async () => {
  const { offeredActions, refusalWords } = await import('../../station/web/site/js/sales.js');
  const now = Date.parse('2026-12-08T01:13:04.277Z');
  const until = '2026-12-08T01:14:44.277Z'; // 100 s on
  const sale = (fields) => ({ id: 2, status: 'completed', paid: false, locked_by: null, locked_until: null, ...fields });
  // [sale, this till, its role, what it is offered]
  const cases = [
    [sale(), 'pos-1', 'operate', ['lock', 'clear']],
    [sale({ locked_by: 'pos-1', locked_until: until }), 'pos-1', 'operate', ['unlock', 'clear']],
    [sale({ locked_by: 'pos-2', locked_until: until }), 'pos-1', 'operate', []],
    [sale({ locked_by: 'pos-2', locked_until: until }), 'manager', 'admin', ['unlock']],
    [sale({ locked_by: 'pos-2', locked_until: '2026-12-08T01:13:04.000Z' }), 'pos-1', 'operate', ['lock', 'clear']], // lapsed
    [sale({ locked_by: 'pos-2', locked_until: until }), null, null, ['unlock', 'clear']], // not told who it is: the station judges
    [sale({ locked_by: 'pos-2', locked_until: until }), 'pos-1', 'view', []],
    [sale(), 'viewer', 'view', []],
  ];
  for (const [fill, me, role, expected] of cases) assert.deepEqual(offeredActions(fill, me, role, now), expected, `${JSON.stringify(fill)} for ${me} (${role})`);

  // [the sale as the station now has it, words]
  const refusals = [
    [sale({ locked_by: 'pos-2', locked_until: until }), /^Sale 2 is held by pos-2 for another 1 min 40 s: that till is taking the payment/],
    [sale({ paid: true, paid_by: 'pos-2' }), /^Sale 2 is already paid \(by pos-2\)\.$/],
    [sale({ status: 'cancelled' }), /^Sale 2 was cancelled/],
    [sale({ status: 'filling' }), /^Sale 2 has not finished yet/],
    [sale(), /^The station refused this for sale 2 \(fill 2 is locked by pos-2 until (\d{1,2} \w{3} \d{4}, )?\d\d:\d\d(:\d\d)? .+\)\. Reload/],
  ];
  for (const [fill, words] of refusals) {
    const text = refusalWords(fill, 'pos-1', `fill 2 is locked by pos-2 until ${until}`, now);
    assert.match(text, words);
    assert.doesNotMatch(text, /\d{4}-\d\d-\d\dT|hang up/, 'no raw time and no advice for a pump');
  }
});

test("times are the station's and durations are words", async () => {
  const { learnStation, localizeStamps, timeLeft } = await import('../../station/web/site/js/format.js');
  learnStation({ timezone: 'Asia/Kathmandu' });
  assert.equal(localizeStamps('fill 7 (52.90) is unpaid since 2020-03-01T10:15:02.120Z'), 'fill 7 (52.90) is unpaid since 1 Mar 2020, 16:00 GMT+5:45');
  assert.equal(localizeStamps('shift from 2020-03-01T06:00:00+01:00 on'), 'shift from 1 Mar 2020, 10:45 GMT+5:45 on');
  assert.equal(localizeStamps('no time here: 2020-03-01, 10:15'), 'no time here: 2020-03-01, 10:15');
  const now = Date.parse('2026-12-08T01:00:00Z');
  // [until, words]
  const cases = [['2026-12-08T01:01:40Z', '1 min 40 s'], ['2026-12-08T01:02:00Z', '2 min'], ['2026-12-08T01:00:09.2Z', '10 s'],
    ['2026-12-08T01:00:00Z', ''], ['2026-12-08T00:59:00Z', ''], ['not a time', '']];
  for (const [until, words] of cases) assert.equal(timeLeft(until, now), words, until);
});

test('every sentence the scripts write is in the strings table', async () => {
  const { readdirSync, readFileSync } = await import('node:fs');
  const { kText } = await import('../../station/web/site/js/strings.js');
  const folder = new URL('../../station/web/site/js/', import.meta.url);
  for (const file of readdirSync(folder).filter((name) => name.endsWith('.js') && name !== 'strings.js')) {
    const source = readFileSync(new URL(file, folder), 'utf8');
    for (const [, key] of source.matchAll(/kText\.([A-Za-z]+)/g)) assert.ok(key in kText, `${file}: kText.${key} is missing`);
  }
});
