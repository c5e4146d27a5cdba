// The journal: today's completed fills, newest first, with filters, totals
// per grade and a CSV export made in the browser; and a nozzle's totals read
// from the dispenser on request.
import { describe, get } from './api.js';
import { kText } from './strings.js';
import { startOf } from './search.js';
import { kDefaultNozzles, kLastNozzle } from './limits.js';
import { el, fixed2, money, gradeName, dispenserKey, dispenserName, describeLimit, localTime, isToday, localDate, labelCells } from './format.js';

const kPage = 1000;
// Fills finish a little out of id order (ids are given at authorization), so
// the search for today's first fill starts this many ids early.
const kMargin = 256;

async function firstAfter(after) {
  const [fill] = await get(`/fills?after=${after}&limit=1`);
  return fill;
}

// The nozzles a pump has. The station names them only in a shift report
// (every configured nozzle), so the newest report tells; a pump it does not
// list (no shift closed yet, or a pump added since) offers the grades it has
// prices for, nozzle n selling grade n; without those, the configuration's
// default.
export function configuredNozzles(key, report, prices = new Map()) {
  const listed = (report?.nozzles ?? []).filter((n) => dispenserKey(n.channel, n.dispenser) === key).map((n) => n.nozzle);
  const priced = [...prices.keys()].filter((grade) => grade >= 1 && grade <= kLastNozzle);
  const nozzles = listed.length ? listed : priced.length ? priced : kDefaultNozzles;
  return [...new Set(nozzles)].sort((a, b) => a - b);
}

// What a reader must know of a sale beyond its figures: an authorization
// that ended without fuel, a pump whose amount is not price × volume, the
// money a prepay gives back. A station that does not tell these leaves it empty.
export function fillNote(fill) {
  const notes = [];
  if (fill.status === 'cancelled') notes.push(kText.noteCancelled);
  if (fill.mismatch) notes.push(kText.noteMismatch);
  if (typeof fill.refund === 'number' && fill.refund > 0) notes.push(kText.noteRefund(money(fill.refund)));
  return notes.join(' ');
}

// The `after` from which today's fills are read.
export function todaysStart(first = firstAfter, today = (fill) => isToday(fill.finished_at)) {
  return startOf(first, today, kMargin);
}

// A cell that a spreadsheet would run (a formula's =, +, - or @, also behind
// a tab or a carriage return) gets an apostrophe in front: it shows as the
// text it is. A plain number such as -1.50 stays a number.
const kRunnable = /^[=+\-@\t\r]/;
const kPlainNumber = /^-?\d+(\.\d+)?$/;

export function csvField(value) {
  let text = value === null || value === undefined ? '' : String(value);
  const runnable = kRunnable.test(text) && !kPlainNumber.test(text);
  if (runnable) text = `'${text}`;
  return runnable || /[",\r\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
}

const kColumns = [
  ['id', (f) => f.id],
  ['finished_at', (f) => f.finished_at],
  ['channel', (f) => f.channel],
  ['dispenser', (f) => f.dispenser],
  ['nozzle', (f) => f.nozzle],
  ['grade', (f) => f.grade],
  ['price', (f) => fixed2(f.price)],
  ['volume', (f) => fixed2(f.volume)],
  ['amount', (f) => fixed2(f.amount)],
  ['limit', (f) => describeLimit(f.limit)],
  ['authorized_by', (f) => f.authorized_by ?? ''],
  ['authorized_at', (f) => f.authorized_at ?? ''],
  ['recovered', (f) => (f.recovered ? 'yes' : 'no')],
];

export function toCsv(fills) {
  const lines = [kColumns.map(([name]) => name).join(',')];
  for (const fill of fills) lines.push(kColumns.map(([, pick]) => csvField(pick(fill))).join(','));
  return `${lines.join('\r\n')}\r\n`;
}

export class Journal {
  // newestReport() answers the newest closed shift's report, or null.
  constructor(forecourt, newestReport = () => null) {
    this.forecourt = forecourt;
    this.newestReport = newestReport;
    this.fills = new Map();
    this.body = document.querySelector('#fills tbody');
    this.empty = document.getElementById('fills-empty');
    this.totals = document.querySelector('#grade-totals tbody');
    this.byDispenser = document.getElementById('filter-dispenser');
    this.byGrade = document.getElementById('filter-grade');
    this.byDispenser.addEventListener('change', () => this.render());
    this.byGrade.addEventListener('change', () => this.render());
    document.getElementById('export-csv').addEventListener('click', () => this.exportCsv());
    this.totalsDispenser = document.getElementById('totals-dispenser');
    this.totalsNozzle = document.getElementById('totals-nozzle');
    this.totalsDispenser.addEventListener('change', () => this.offerNozzles());
    document.getElementById('totals-form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.readTotals();
    });
  }

  async load() {
    let after = await todaysStart();
    for (;;) {
      const page = await get(`/fills?after=${after}&limit=${kPage}`);
      for (const fill of page) this.fills.set(fill.id, fill);
      if (page.length < kPage) break;
      after = page[page.length - 1].id;
    }
    this.render();
  }

  // A `fill` event; a replay after a reconnection repeats ids harmlessly.
  add(fill) {
    this.fills.set(fill.id, fill);
    this.render();
  }

  today() {
    // Newest first by the time each fill finished; ids order fills by
    // authorization, which two pumps can finish the other way round.
    return [...this.fills.values()]
      .filter((f) => isToday(f.finished_at ?? f.authorized_at))
      .sort((a, b) => (b.finished_at ?? '').localeCompare(a.finished_at ?? '') || b.id - a.id);
  }

  filtered() {
    const dispenser = this.byDispenser.value;
    const grade = this.byGrade.value;
    return this.today().filter(
      (f) => (!dispenser || dispenserKey(f.channel, f.dispenser) === dispenser) && (!grade || String(f.grade) === grade),
    );
  }

  refreshChoices() {
    const keep = (select, options) => {
      const chosen = select.value;
      select.replaceChildren(select.options[0], ...options);
      select.value = [...select.options].some((o) => o.value === chosen) ? chosen : '';
    };
    const dispensers = this.forecourt.list();
    keep(
      this.byDispenser,
      dispensers.map((d) => el('option', { value: dispenserKey(d.channel, d.dispenser), text: dispenserName(d.channel, d.dispenser) })),
    );
    const grades = [...new Set(this.today().map((f) => f.grade))].sort((a, b) => a - b);
    keep(this.byGrade, grades.map((g) => el('option', { value: g, text: gradeName(g) })));

    const chosen = this.totalsDispenser.value;
    this.totalsDispenser.replaceChildren(
      ...dispensers.map((d) => el('option', { value: dispenserKey(d.channel, d.dispenser), text: dispenserName(d.channel, d.dispenser) })),
    );
    if (chosen) this.totalsDispenser.value = chosen;
    this.offerNozzles();
  }

  // Only the chosen pump's own nozzles; a list that has not changed is left
  // alone, so a choice being made is not taken away.
  offerNozzles() {
    const key = this.totalsDispenser.value;
    const [channel, dispenser] = key.split('/').map(Number);
    const nozzles = configuredNozzles(key, this.newestReport(), this.forecourt.pricesOf({ channel, dispenser }));
    if (nozzles.join() === [...this.totalsNozzle.options].map((o) => o.value).join()) return;
    const chosen = this.totalsNozzle.value;
    this.totalsNozzle.replaceChildren(...nozzles.map((n) => el('option', { value: n, text: kText.nozzleNumber(n) })));
    if (nozzles.map(String).includes(chosen)) this.totalsNozzle.value = chosen;
  }

  render() {
    this.refreshChoices();
    const fills = this.filtered();
    this.body.replaceChildren(
      ...fills.map((f) =>
        el(
          'tr',
          { 'data-fill': f.id },
          el('td', { text: f.id }),
          el('td', { text: localTime(f.finished_at) }),
          el('td', { text: dispenserName(f.channel, f.dispenser) }),
          el('td', { text: f.nozzle ?? '–' }),
          el('td', { text: f.grade ?? '–' }),
          el('td', { class: 'num', text: fixed2(f.price) }),
          el('td', { class: 'num', text: fixed2(f.volume) }),
          el('td', { class: 'num', text: fixed2(f.amount) }),
          el('td', { text: describeLimit(f.limit) }),
          el('td', { text: (f.authorized_by ?? kText.atThePump) + (f.recovered ? kText.recovered : '') }),
          el('td', { class: f.mismatch || f.status === 'cancelled' ? 'note-alert' : '', text: fillNote(f) }),
        ),
      ),
    );
    this.empty.hidden = fills.length > 0;
    labelCells(this.body.closest('table'));

    const perGrade = new Map();
    for (const f of fills.filter((fill) => fill.status !== 'cancelled')) {
      const sum = perGrade.get(f.grade) ?? { count: 0, volume: 0, amount: 0 };
      sum.count += 1;
      // Sums in hundredths, so that 0.1 + 0.2 stays 0.30.
      sum.volume += Math.round(f.volume * 100);
      sum.amount += Math.round(f.amount * 100);
      perGrade.set(f.grade, sum);
    }
    this.totals.replaceChildren(
      ...[...perGrade.entries()]
        .sort((a, b) => a[0] - b[0])
        .map(([grade, sum]) =>
          el(
            'tr',
            { 'data-grade': grade },
            el('td', { text: gradeName(grade) }),
            el('td', { class: 'num', text: sum.count }),
            el('td', { class: 'num', text: fixed2(sum.volume / 100) }),
            el('td', { class: 'num', text: fixed2(sum.amount / 100) }),
          ),
        ),
    );
  }

  exportCsv() {
    const blob = new Blob([toCsv(this.filtered())], { type: 'text/csv;charset=utf-8' });
    const link = el('a', { href: URL.createObjectURL(blob), download: `fills-${localDate()}.csv` });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  }

  async readTotals() {
    const result = document.getElementById('totals-result');
    const [channel, dispenser] = this.totalsDispenser.value.split('/');
    const nozzle = this.totalsNozzle.value;
    result.className = '';
    result.textContent = kText.reading;
    try {
      const totals = await get(`/dispensers/${channel}/${dispenser}/totals/${nozzle}`);
      result.textContent = kText.totalsRead(dispenserName(channel, dispenser), nozzle, fixed2(totals.volume_total), fixed2(totals.amount_total));
    } catch (error) {
      result.className = 'error';
      result.textContent = describe(error);
    }
  }
}
