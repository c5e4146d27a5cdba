// SPDX-License-Identifier: Apache-2.0
// The shift: close it (after a confirmation), read its report (per grade,
// per pump, unpaid, cancelled, the nozzle table with differences marked, a
// chart of sales by hour and grade drawn here as SVG), export it as CSV, and
// look at earlier shifts. Shown only by a station that keeps shifts; on an
// older one GET /shifts is 404 and the tab stays hidden.
import { get, post, describe, authHeaders } from './api.js';
import { el, fixed2, money, gradeName, dispenserName, localDateTime, labelCells, station } from './format.js';
import { startOf } from './search.js';
import { kText } from './strings.js';

const kSvg = 'http://www.w3.org/2000/svg';
// The earlier shifts offered: the newest this many.
const kShiftsListed = 100;
// Each grade's colour is a class in style.css (the page's policy allows no
// inline style).
const gradeClass = (grade) => `grade-${((grade - 1) % 8) + 1}`;

function svg(tag, attributes = {}, text) {
  const node = document.createElementNS(kSvg, tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Hours of the day in the station's zone, 0..23.
function hourOf(iso) {
  const hour = new Intl.DateTimeFormat('en-GB', { timeZone: station.timeZone, hour: '2-digit', hour12: false }).format(new Date(iso));
  return Number(hour) % 24;
}

// Amount per hour and grade: [{hour, grades: Map(grade -> amount)}], in the
// order the hours came.
export function salesByHour(fills) {
  const hours = new Map();
  for (const fill of fills) {
    if (fill.status && fill.status !== 'completed') continue;
    const hour = hourOf(fill.finished_at);
    if (!hours.has(hour)) hours.set(hour, new Map());
    const grades = hours.get(hour);
    grades.set(fill.grade, (grades.get(fill.grade) ?? 0) + fill.amount);
  }
  return [...hours.entries()].map(([hour, grades]) => ({ hour, grades }));
}

function chart(fills) {
  const bars = salesByHour(fills);
  const grades = [...new Set(bars.flatMap((bar) => [...bar.grades.keys()]))].sort((a, b) => a - b);
  const top = Math.max(1, ...bars.map((bar) => [...bar.grades.values()].reduce((a, b) => a + b, 0)));
  const width = Math.max(320, bars.length * 48 + 60);
  const height = 220;
  const root = svg('svg', { viewBox: `0 0 ${width} ${height + 24}`, width, height: height + 24, role: 'img', class: 'chart' });
  root.append(svg('title', {}, kText.chartTitle));
  bars.forEach((bar, index) => {
    let y = height;
    const x = 50 + index * 48;
    for (const grade of grades) {
      const amount = bar.grades.get(grade) ?? 0;
      if (!amount) continue;
      const h = (amount / top) * (height - 20);
      y -= h;
      const rect = svg('rect', { x, y, width: 36, height: h, class: gradeClass(grade) });
      rect.append(svg('title', {}, `${String(bar.hour).padStart(2, '0')}:00 · ${gradeName(grade)} · ${money(amount)}`));
      root.append(rect);
    }
    root.append(svg('text', { x: x + 18, y: height + 16, 'text-anchor': 'middle', class: 'axis' }, `${String(bar.hour).padStart(2, '0')}h`));
  });
  root.append(svg('text', { x: 4, y: 14, class: 'axis' }, money(top)));
  // The key is text of the page, which wraps: a long grade name is never cut.
  const key = el(
    'ul',
    { class: 'legend', 'aria-label': kText.chartKey },
    grades.map((grade) => el('li', {}, el('span', { class: `swatch ${gradeClass(grade)}` }), gradeName(grade))),
  );
  return [root, key];
}

// A meter that moved other than the journal says.
function differs(nozzle) {
  const d = nozzle.difference;
  return Boolean(d) && (Math.abs(d.volume) > 0.005 || Math.abs(d.amount) > 0.005);
}

// [nozzles to read, nozzles that sold nothing with meters that agree]: a
// nozzle that did not answer or whose meter differs is always read.
export function splitNozzles(nozzles) {
  const quiet = (n) => n.totals_close !== null && !differs(n) && !n.journal?.volume && !n.journal?.amount;
  return [nozzles.filter((n) => !quiet(n)), nozzles.filter(quiet)];
}

function table(head, rows, className = 'grid') {
  const node = el(
    'table',
    { class: className },
    el('thead', {}, el('tr', {}, head.map(([text, num]) => el('th', { class: num ? 'num' : '', text })))),
    el('tbody', {}, rows),
  );
  labelCells(node);
  return node;
}

export class Shift {
  constructor(onAnswer) {
    this.onAnswer = onAnswer;
    this.list = document.getElementById('shift-list');
    this.report = document.getElementById('shift-report');
    this.error = document.getElementById('shift-error');
    this.dialog = document.getElementById('shift-dialog');
    this.list.addEventListener('change', () => this.show(Number(this.list.value)));
    document.getElementById('shift-close').addEventListener('click', () => this.dialog.showModal());
    this.dialog.querySelector('[data-close]').addEventListener('click', () => this.dialog.close());
    this.dialog.querySelector('form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.dialog.close();
      this.close();
    });
    document.getElementById('shift-csv').addEventListener('click', () => this.csv());
  }

  // True when the station keeps shifts. The newest are listed, however many
  // the station has closed.
  async load() {
    try {
      const from = await startOf(async (after) => (await get(`/shifts?after=${after}&limit=1`))[0], () => false, kShiftsListed);
      this.shifts = await get(`/shifts?after=${from}&limit=${kShiftsListed + 1}`);
    } catch (error) {
      if (error.status === 404) return false;
      throw error;
    }
    this.fillList();
    if (this.shifts.length) await this.show(this.shifts[this.shifts.length - 1].id);
    return true;
  }

  fillList() {
    const chosen = this.list.value;
    this.list.replaceChildren(
      ...[...this.shifts].reverse().map((s) => el('option', { value: s.id, text: kText.shiftName(s.id, localDateTime(s.closed_at)) })),
    );
    if (chosen) this.list.value = chosen;
  }

  async close() {
    this.error.textContent = '';
    try {
      const report = await post('/shifts/close');
      this.onAnswer(null);
      this.merge(report);
    } catch (error) {
      this.onAnswer(error);
      this.error.textContent = describe(error);
    }
  }

  // The newest closed shift's report, or null: it names every configured nozzle.
  newest() {
    return this.shifts?.length ? this.shifts[this.shifts.length - 1] : null;
  }

  // A closed shift, from our close or a `shift` event.
  merge(report) {
    if (!this.shifts || this.shifts.some((s) => s.id === report.id)) return;
    this.shifts.push(report);
    this.fillList();
    this.list.value = String(report.id);
    this.show(report.id);
  }

  async show(id) {
    const report = this.shifts.find((s) => s.id === id) ?? (await get(`/shifts/${id}`));
    const range = `from=${encodeURIComponent(report.opened_at)}&to=${encodeURIComponent(report.closed_at)}`;
    let fills = [];
    try {
      fills = await get(`/fills?${range}&limit=1000`);
    } catch {
      // The chart is left out; the report stands without it.
    }
    this.render(report, fills);
  }

  render(r, fills) {
    const unanswered = r.nozzles.filter((n) => n.totals_close === null);
    const [busy, quiet] = splitNozzles(r.nozzles);
    const nozzleHead = [[kText.nozzle], [kText.grade], [kText.journalVolume, true], [kText.meterVolume, true], [kText.differenceVolume, true], [kText.differenceAmount, true]];
    const nozzleRow = (n) =>
      el(
        'tr',
        { class: differs(n) ? 'difference' : '' },
        el('td', { text: `${dispenserName(n.channel, n.dispenser)} · ${kText.nozzle} ${n.nozzle}` }),
        el('td', { text: gradeName(n.grade) }),
        el('td', { class: 'num', text: fixed2(n.journal?.volume) }),
        el('td', { class: 'num', text: n.totals_close ? fixed2(n.totals_close.volume - (n.totals_open?.volume ?? 0)) : kText.noAnswer }),
        el('td', { class: 'num', text: n.difference ? fixed2(n.difference.volume) : '–' }),
        el('td', { class: 'num', text: n.difference ? fixed2(n.difference.amount) : '–' }),
      );
    this.report.replaceChildren(
      el('h2', { text: kText.shiftReport(r.id) }),
      el('p', { text: kText.shiftSpan(localDateTime(r.opened_at), localDateTime(r.closed_at), r.closed_by ?? '') }),
      el('p', { class: 'big-line', text: kText.shiftTotals(r.fills.count, fixed2(r.fills.volume), money(r.fills.amount)) }),
      el('p', { text: kText.shiftUnpaid(r.unpaid.count, money(r.unpaid.amount), r.cancelled) }),
      // replaceChildren writes a null as the text "null": nothing goes in instead.
      ...(unanswered.length ? [el('p', { class: 'error', text: kText.unanswered(unanswered.length) })] : []),
      el('h3', { text: kText.chartTitle }),
      ...chart(fills).map((part, index) => (index === 0 ? el('div', { class: 'scroll' }, part) : part)),
      el('h3', { text: kText.byGrade }),
      table([[kText.grade], [kText.fillsCount, true], [kText.volume, true], [kText.amount, true]],
        r.by_grade.map((g) => el('tr', {}, el('td', { text: g.name ?? gradeName(g.grade) }), el('td', { class: 'num', text: g.count }),
          el('td', { class: 'num', text: fixed2(g.volume) }), el('td', { class: 'num', text: money(g.amount) })))),
      el('h3', { text: kText.byDispenser }),
      table([[kText.dispenser], [kText.fillsCount, true], [kText.volume, true], [kText.amount, true]],
        r.by_dispenser.map((d) => el('tr', {}, el('td', { text: dispenserName(d.channel, d.dispenser) }), el('td', { class: 'num', text: d.count }),
          el('td', { class: 'num', text: fixed2(d.volume) }), el('td', { class: 'num', text: money(d.amount) })))),
      el('h3', { text: kText.nozzles }),
      ...(busy.length ? [table(nozzleHead, busy.map(nozzleRow), 'grid nozzles')] : []),
      // Nozzles that sold nothing and whose meters agree say nothing new: folded.
      ...(quiet.length ? [el('details', { class: 'quiet' }, el('summary', { text: kText.quietNozzles(quiet.length) }), table(nozzleHead, quiet.map(nozzleRow)))] : []),
    );
    this.report.hidden = false;
  }

  async csv() {
    const id = this.list.value;
    if (!id) return;
    try {
      const response = await fetch(`/api/v1/shifts/${id}`, { headers: { ...authHeaders(), Accept: 'text/csv' }, cache: 'no-store' });
      if (!response.ok) throw Object.assign(new Error(), { status: response.status });
      const link = el('a', { href: URL.createObjectURL(await response.blob()), download: `shift-${id}.csv` });
      link.click();
      URL.revokeObjectURL(link.href);
    } catch (error) {
      this.error.textContent = describe({ status: error.status ?? 0 });
    }
  }
}
