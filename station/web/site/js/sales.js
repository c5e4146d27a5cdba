// SPDX-License-Identifier: Apache-2.0
// Unpaid sales: the station-wide list and per pump, with lock, clear (an
// optional reference) and unlock for a till. Shown only by a station that
// keeps the unpaid stack (its dispensers carry `unpaid`); an older station
// has none and the tab stays hidden.
import { get, post, describe } from './api.js';
import { el, fixed2, money, gradeName, dispenserKey, dispenserName, localTime, labelCells } from './format.js';
import { kText } from './strings.js';

export class Sales {
  constructor(forecourt, canOperate, onAnswer) {
    this.forecourt = forecourt;
    this.canOperate = canOperate;
    this.onAnswer = onAnswer;
    this.fills = new Map();
    this.table = document.getElementById('unpaid');
    this.empty = document.getElementById('unpaid-empty');
    this.error = document.getElementById('sales-error');
    this.byDispenser = document.getElementById('sales-dispenser');
    this.byDispenser.addEventListener('change', () => this.render());
  }

  static offered(dispensers) {
    return dispensers.some((d) => typeof d.unpaid === 'number');
  }

  async load() {
    const fills = await get('/fills?status=completed&paid=false&limit=1000');
    this.fills = new Map(fills.map((f) => [f.id, f]));
    this.render();
  }

  // A `fill` event: paid ones leave the list, new unpaid ones join it.
  add(fill) {
    if (fill.status === 'completed' && fill.paid === false) this.fills.set(fill.id, fill);
    else this.fills.delete(fill.id);
    this.render();
  }

  async act(fill, verb, body) {
    this.error.textContent = '';
    try {
      const answer = await post(`/fills/${fill.id}/${verb}`, body);
      this.onAnswer(null);
      if (answer?.id) this.add(answer);
    } catch (error) {
      this.onAnswer(error);
      this.error.textContent = kText.saleRefused(fill.id, describe(error));
    }
  }

  actions(fill) {
    if (!this.canOperate) return el('td', { text: fill.locked_by ? kText.lockedBy(fill.locked_by) : '' });
    const reference = el('input', { type: 'text', maxlength: '64', 'aria-label': kText.referenceFor(fill.id), placeholder: kText.reference });
    const button = (text, verb, body) => el('button', { text, onclick: () => this.act(fill, verb, body?.()) });
    return el(
      'td',
      { class: 'sale-actions' },
      fill.locked_by ? button(kText.unlock, 'unlock') : button(kText.lock, 'lock'),
      reference,
      button(kText.clear, 'clear', () => (reference.value.trim() ? { reference: reference.value.trim() } : {})),
    );
  }

  render() {
    const chosen = this.byDispenser.value;
    this.byDispenser.replaceChildren(
      this.byDispenser.options[0],
      ...this.forecourt.list().map((d) => el('option', { value: dispenserKey(d.channel, d.dispenser), text: dispenserName(d.channel, d.dispenser) })),
    );
    this.byDispenser.value = chosen;
    const all = [...this.fills.values()].sort((a, b) => a.id - b.id);
    const owed = new Map();
    for (const f of all) {
      const key = dispenserKey(f.channel, f.dispenser);
      owed.set(key, (owed.get(key) ?? 0) + f.amount);
    }
    this.forecourt.setUnpaidAmounts(owed);
    const shown = all.filter((f) => !chosen || dispenserKey(f.channel, f.dispenser) === chosen);
    this.table.tBodies[0].replaceChildren(
      ...shown.map((f) =>
        el(
          'tr',
          { 'data-fill': f.id, class: f.locked_by ? 'locked' : '' },
          el('td', { text: f.id }),
          el('td', { text: localTime(f.finished_at) }),
          el('td', { text: dispenserName(f.channel, f.dispenser) }),
          el('td', { text: gradeName(f.grade) }),
          el('td', { class: 'num', text: fixed2(f.volume) }),
          el('td', { class: 'num', text: money(f.amount) }),
          el('td', { text: f.locked_by ?? '' }),
          this.actions(f),
        ),
      ),
    );
    this.empty.hidden = shown.length > 0;
    labelCells(this.table);
  }
}
