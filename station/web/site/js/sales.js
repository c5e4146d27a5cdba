// SPDX-License-Identifier: Apache-2.0
// Unpaid sales: the station-wide list and per pump, what they come to, and
// lock, clear (an optional reference) and unlock for a till. A sale another
// till holds is shown as held, with the time its hold has left, and offers
// nothing this till could use (an admin may release it). Shown only by a
// station that keeps the unpaid stack (its dispensers carry `unpaid`); an
// older station has none and the tab stays hidden.
import { get, post, describe } from './api.js';
import { el, fixed2, money, gradeName, dispenserKey, dispenserName, localMoment, localizeStamps, labelCells, timeLeft } from './format.js';
import { kText } from './strings.js';

// A hold the station still keeps: a lapsed one is free at once.
export function holder(fill, now = Date.now()) {
  if (!fill.locked_by) return null;
  if (fill.locked_until && !(Date.parse(fill.locked_until) > now)) return null;
  return fill.locked_by;
}

// What this till may do with a sale: `me` is its token's name (null when the
// station does not tell it: the station then judges every press).
export function offeredActions(fill, me, role, now = Date.now()) {
  const till = holder(fill, now);
  if (role === 'view') return [];
  if (till === null || me === null || till === me) return [till === null ? 'lock' : 'unlock', 'clear'];
  return role === 'admin' ? ['unlock'] : [];
}

// The words for a refused sale, from the sale as the station now has it.
export function refusalWords(fill, me, detail, now = Date.now()) {
  if (fill.status && fill.status !== 'completed') {
    return fill.status === 'cancelled' ? kText.saleCancelled(fill.id) : kText.saleRunning(fill.id);
  }
  if (fill.paid) return kText.salePaid(fill.id, fill.paid_by);
  const till = holder(fill, now);
  if (till !== null && till !== me) return kText.saleHeld(fill.id, till, timeLeft(fill.locked_until, now));
  return kText.saleConflict(fill.id, localizeStamps(detail));
}

export class Sales {
  // session: { name, role } of this page's token; role null when not told.
  constructor(forecourt, session, onAnswer) {
    this.forecourt = forecourt;
    this.me = session.name ?? null;
    this.role = session.role;
    this.onAnswer = onAnswer;
    this.fills = new Map();
    this.table = document.getElementById('unpaid');
    this.owed = document.getElementById('unpaid-owed');
    this.empty = document.getElementById('unpaid-empty');
    this.error = document.getElementById('sales-error');
    this.byDispenser = document.getElementById('sales-dispenser');
    this.byDispenser.addEventListener('change', () => this.render());
    // A hold's time left counts down; a hold that lapses frees its sale.
    setInterval(() => this.tick(), 1000);
  }

  set canOperate(can) {
    if (!can) this.role = 'view';
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
      this.error.textContent = error.status === 409 ? await this.explain(fill, error) : kText.saleRefused(fill.id, describe(error));
    }
  }

  // A conflict means the sale changed under this till (another took it, paid
  // it): read it again, show it as it is, and say what happened.
  async explain(fill, error) {
    try {
      const now = await get(`/fills/${fill.id}`);
      this.add(now);
      return refusalWords(now, this.me, error.detail);
    } catch {
      return kText.saleConflict(fill.id, localizeStamps(error.detail));
    }
  }

  holdWords(fill) {
    const till = holder(fill);
    if (till === null) return '';
    const left = timeLeft(fill.locked_until);
    return till === this.me ? kText.heldByYou(left) : kText.heldBy(till, left);
  }

  payment(fill) {
    const cell = el('td', { class: 'sale-actions' });
    const held = this.holdWords(fill);
    if (held) cell.append(el('span', { class: 'held', 'data-until': fill.locked_until ?? '', text: held }));
    const offered = offeredActions(fill, this.me, this.role);
    const button = (text, verb, body) => el('button', { text, onclick: () => this.act(fill, verb, body?.()) });
    for (const verb of offered) {
      if (verb === 'lock') cell.append(button(kText.lock, 'lock'));
      if (verb === 'unlock') cell.append(button(kText.unlock, 'unlock'));
      if (verb === 'clear') {
        const reference = el('input', {
          type: 'text', maxlength: '64', 'aria-label': kText.referenceFor(fill.id), placeholder: kText.reference, 'data-reference': fill.id,
        });
        cell.append(reference, button(kText.clear, 'clear', () => (reference.value.trim() ? { reference: reference.value.trim() } : {})));
      }
    }
    return cell;
  }

  tick() {
    let lapsed = false;
    for (const node of this.table.querySelectorAll('.held[data-until]')) {
      const fill = this.fills.get(Number(node.closest('tr').dataset.fill));
      if (!fill) continue;
      if (holder(fill) === null) lapsed = true;
      else node.textContent = this.holdWords(fill);
    }
    if (lapsed) this.render();
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
    // What is typed survives the list being drawn again.
    const typed = new Map([...this.table.querySelectorAll('input[data-reference]')].map((input) => [input.dataset.reference, input.value]));
    const focused = document.activeElement?.dataset?.reference;
    this.table.tBodies[0].replaceChildren(
      ...shown.map((f) =>
        el(
          'tr',
          { 'data-fill': f.id, class: holder(f) ? 'locked' : '' },
          el('td', { text: f.id }),
          el('td', { text: localMoment(f.finished_at) }),
          el('td', { text: dispenserName(f.channel, f.dispenser) }),
          el('td', { text: gradeName(f.grade) }),
          el('td', { class: 'num', text: fixed2(f.volume) }),
          el('td', { class: 'num', text: money(f.amount) }),
          this.payment(f),
        ),
      ),
    );
    for (const input of this.table.querySelectorAll('input[data-reference]')) {
      input.value = typed.get(input.dataset.reference) ?? '';
      if (input.dataset.reference === focused) input.focus();
    }
    // Summed in hundredths, so that the total is exact.
    const total = shown.reduce((sum, f) => sum + Math.round(f.amount * 100), 0) / 100;
    const name = chosen ? dispenserName(...chosen.split('/')) : '';
    this.owed.textContent = name ? kText.owedAt(name, shown.length, money(total)) : kText.owed(shown.length, money(total));
    this.owed.hidden = shown.length === 0;
    this.empty.hidden = shown.length > 0;
    labelCells(this.table);
  }
}
