// SPDX-License-Identifier: Apache-2.0
// The shift: close it (after a confirmation), read its report (per grade,
// per pump, unpaid, cancelled, the nozzle table with differences marked, a
// chart of sales by hour and grade drawn here as SVG), export it as CSV, and
// look at earlier shifts. Shown only by a station that keeps shifts; on an
// older one GET /shifts is 404 and the tab stays hidden.
import { get, post, describe, authHeaders } from './api.js';
import { el, fixed2, money, gradeName, dispenserName, localTime, labelCells, station } from './format.js';
import { kText } from './strings.js';

const kSvg = 'http://www.w3.org/2000/svg';
const kGradeColours = ['#1d4ed8', '#047857', '#b45309', '#6d28d9', '#be123c', '#0e7490', '#4d7c0f', '#374151'];

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
  const root = svg('svg', { viewBox: `0 0 ${width} ${height + 40}`, width, height: height + 40, role: 'img', class: 'chart' });
  root.append(svg('title', {}, kText.chartTitle));
  bars.forEach((bar, index) => {
    let y = height;
    const x = 50 + index * 48;
    for (const grade of grades) {
      const amount = bar.grades.get(grade) ?? 0;
      if (!amount) continue;
      const h = (amount / top) * (height - 20);
      y -= h;
      const rect = svg('rect', { x, y, width: 36, height: h, fill: kGradeColours[(grade - 1) % 8] });
      rect.append(svg('title', {}, `${String(bar.hour).padStart(2, '0')}:00 · ${gradeName(grade)} · ${money(amount)}`));
      root.append(rect);
    }
    root.append(svg('text', { x: x + 18, y: height + 16, 'text-anchor': 'middle', class: 'axis' }, `${String(bar.hour).padStart(2, '0')}h`));
  });
  root.append(svg('text', { x: 4, y: 14, class: 'axis' }, money(top)));
  grades.forEach((grade, index) => {
    root.append(svg('rect', { x: 50 + index * 110, y: height + 26, width: 12, height: 12, fill: kGradeColours[(grade - 1) % 8] }));
    root.append(svg('text', { x: 66 + index * 110, y: height + 37, class: 'axis' }, gradeName(grade)));
  });
  return root;
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

  // True when the station keeps shifts.
  async load() {
    try {
      this.shifts = await get('/shifts?limit=1000');
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
      ...[...this.shifts].reverse().map((s) => el('option', { value: s.id, text: kText.shiftName(s.id, localTime(s.closed_at)) })),
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
    const nozzleRows = r.nozzles.map((n) => {
      const off = n.difference && (Math.abs(n.difference.volume) > 0.005 || Math.abs(n.difference.amount) > 0.005);
      return el(
        'tr',
        { class: off ? 'difference' : '' },
        el('td', { text: `${dispenserName(n.channel, n.dispenser)} · ${kText.nozzle} ${n.nozzle}` }),
        el('td', { text: gradeName(n.grade) }),
        el('td', { class: 'num', text: fixed2(n.journal?.volume) }),
        el('td', { class: 'num', text: n.totals_close ? fixed2(n.totals_close.volume - (n.totals_open?.volume ?? 0)) : kText.noAnswer }),
        el('td', { class: 'num', text: n.difference ? fixed2(n.difference.volume) : '–' }),
        el('td', { class: 'num', text: n.difference ? fixed2(n.difference.amount) : '–' }),
      );
    });
    this.report.replaceChildren(
      el('h2', { text: kText.shiftReport(r.id) }),
      el('p', { text: kText.shiftSpan(localTime(r.opened_at), localTime(r.closed_at), r.closed_by ?? '') }),
      el('p', { class: 'big-line', text: kText.shiftTotals(r.fills.count, fixed2(r.fills.volume), money(r.fills.amount)) }),
      el('p', { text: kText.shiftUnpaid(r.unpaid.count, money(r.unpaid.amount), r.cancelled) }),
      // replaceChildren writes a null as the text "null": nothing goes in instead.
      ...(unanswered.length ? [el('p', { class: 'error', text: kText.unanswered(unanswered.length) })] : []),
      el('h3', { text: kText.chartTitle }),
      el('div', { class: 'scroll' }, chart(fills)),
      el('h3', { text: kText.byGrade }),
      table([[kText.grade], [kText.fillsCount, true], [kText.volume, true], [kText.amount, true]],
        r.by_grade.map((g) => el('tr', {}, el('td', { text: g.name ?? gradeName(g.grade) }), el('td', { class: 'num', text: g.count }),
          el('td', { class: 'num', text: fixed2(g.volume) }), el('td', { class: 'num', text: money(g.amount) })))),
      el('h3', { text: kText.byDispenser }),
      table([[kText.dispenser], [kText.fillsCount, true], [kText.volume, true], [kText.amount, true]],
        r.by_dispenser.map((d) => el('tr', {}, el('td', { text: dispenserName(d.channel, d.dispenser) }), el('td', { class: 'num', text: d.count }),
          el('td', { class: 'num', text: fixed2(d.volume) }), el('td', { class: 'num', text: money(d.amount) })))),
      el('h3', { text: kText.nozzles }),
      table([[kText.nozzle], [kText.grade], [kText.journalVolume, true], [kText.meterVolume, true], [kText.differenceVolume, true], [kText.differenceAmount, true]], nozzleRows),
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
