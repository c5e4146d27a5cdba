// The price book: one row per dispenser, one column per grade. An admin edits
// the cells and applies the whole book in one request; the answer tells, per
// dispenser, whether the new table was downloaded, deferred or failed.
import { describe, get, put } from './api.js';
import { kHighestPrice, kLowestPrice } from './limits.js';
import { kText } from './strings.js';
import { el, fixed2, gradeName, dispenserKey, dispenserName, labelCells } from './format.js';

const kMinGrades = 4;
const kMaxGrade = 8;

// "12.5" and "12.50" are fine; "12.505", "0" and "100" are not.
export function parsePrice(text) {
  const trimmed = text.trim();
  if (!/^\d{1,2}(\.\d{1,2})?$/.test(trimmed)) return null;
  const value = Number(trimmed);
  return value >= kLowestPrice && value <= kHighestPrice ? value : null;
}

export class PriceBook {
  // onAnswer(error) lets the page learn the role from the station's refusal.
  constructor(forecourt, canEdit, onAnswer = () => {}) {
    this.forecourt = forecourt;
    this.canEdit = canEdit;
    this.onAnswer = onAnswer;
    this.form = document.getElementById('prices-form');
    this.table = document.getElementById('prices-table');
    this.error = document.getElementById('prices-error');
    this.outcome = document.getElementById('prices-outcome');
    this.book = [];
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.apply();
    });
  }

  async load() {
    this.book = await get('/prices');
    this.forecourt.setPrices(this.book);
    this.render();
  }

  // A `prices` event: merge the changed entries, keep what is being typed.
  merge(entries) {
    this.forecourt.mergePrices(entries);
    for (const entry of entries) {
      const known = this.book.find(
        (e) => e.channel === entry.channel && e.dispenser === entry.dispenser && e.grade === entry.grade,
      );
      if (known) known.price = entry.price;
      else this.book.push(entry);
    }
    if (!this.editing()) this.render();
  }

  editing() {
    return this.canEdit && this.form.contains(document.activeElement) && document.activeElement.tagName === 'INPUT';
  }

  grades() {
    const highest = Math.max(kMinGrades, ...this.book.map((e) => e.grade));
    return Array.from({ length: Math.min(highest, kMaxGrade) }, (_, i) => i + 1);
  }

  render() {
    const grades = this.grades();
    const dispensers = this.forecourt.list();
    const head = el('tr', {}, el('th', { text: kText.dispenser }), grades.map((g) => el('th', { class: 'num', text: gradeName(g) })));
    const rows = [];
    if (this.canEdit && dispensers.length > 1) {
      rows.push(
        el(
          'tr',
          { class: 'all-row' },
          el('th', { text: kText.allDispensers }),
          grades.map((grade) =>
            el(
              'td',
              { class: 'num' },
              el('input', {
                inputmode: 'decimal',
                'aria-label': kText.gradeForAll(gradeName(grade)),
                'data-all-grade': grade,
                oninput: (event) => this.fillColumn(grade, event.target.value),
              }),
            ),
          ),
        ),
      );
    }
    for (const d of dispensers) {
      const prices = this.forecourt.pricesOf(d);
      const name = dispenserName(d.channel, d.dispenser);
      rows.push(
        el(
          'tr',
          {},
          el('th', { text: name }),
          grades.map((grade) => {
            const price = prices.get(grade);
            if (!this.canEdit) return el('td', { class: 'num', text: fixed2(price) });
            return el(
              'td',
              { class: 'num' },
              el('input', {
                inputmode: 'decimal',
                value: price === undefined ? '' : fixed2(price),
                'aria-label': kText.priceCell(name, gradeName(grade)),
                'data-dispenser': dispenserKey(d.channel, d.dispenser),
                'data-grade': grade,
              }),
            );
          }),
        ),
      );
    }
    this.table.replaceChildren(el('thead', {}, head), el('tbody', {}, rows));
    labelCells(this.table);
  }

  fillColumn(grade, value) {
    for (const input of this.table.querySelectorAll(`input[data-grade="${grade}"]`)) input.value = value;
  }

  // Every filled cell, validated; null when a cell is wrong.
  collect() {
    const entries = [];
    let valid = true;
    for (const input of this.table.querySelectorAll('input[data-dispenser]')) {
      input.removeAttribute('aria-invalid');
      if (input.value.trim() === '') continue;
      const price = parsePrice(input.value);
      if (price === null) {
        input.setAttribute('aria-invalid', 'true');
        valid = false;
        continue;
      }
      const [channel, dispenser] = input.dataset.dispenser.split('/').map(Number);
      entries.push({ channel, dispenser, grade: Number(input.dataset.grade), price });
    }
    return valid ? entries : null;
  }

  async apply() {
    this.error.textContent = '';
    const entries = this.collect();
    if (entries === null) {
      this.error.textContent = kText.priceRange;
      return;
    }
    const submit = this.form.querySelector('button[type=submit]');
    submit.disabled = true;
    try {
      const answer = await put('/prices', entries);
      this.showOutcome(answer);
      await this.load();
    } catch (error) {
      this.onAnswer(error);
      this.error.textContent = describe(error);
    } finally {
      submit.disabled = false;
    }
  }

  showOutcome(answer) {
    const items = Array.isArray(answer) ? answer : answer?.dispensers ?? [];
    const rows = items.map((item) => {
      // "downloaded", "deferred" (until the running fill ends) or the failure.
      const outcome = String(item.result ?? 'unknown');
      const failed = !['downloaded', 'deferred'].includes(outcome);
      const words = outcome === 'deferred' ? kText.deferred : failed ? kText.downloadFailed(outcome) : outcome;
      return el(
        'tr',
        { 'data-dispenser': dispenserKey(item.channel, item.dispenser) },
        el('td', { text: dispenserName(item.channel, item.dispenser) }),
        el('td', { class: failed ? 'outcome-failed' : '', text: words }),
      );
    });
    if (rows.length === 0) rows.push(el('tr', {}, el('td', { colspan: 2, text: kText.nothingToDownload })));
    this.outcome.querySelector('tbody').replaceChildren(...rows);
    this.outcome.hidden = false;
  }
}
