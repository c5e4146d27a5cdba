// The forecourt: one tile per dispenser, updated in place from the API and
// the event stream, so a button keeps its focus while figures change.
import { el, fixed2, dispenserKey, dispenserName, stateWords, stateClass, describeLimit } from './format.js';
import { Link, State } from './words.js';

export class Forecourt {
  // actions: { canOperate, authorize(dispenser), stop(dispenser) }
  constructor(container, actions) {
    this.container = container;
    this.actions = actions;
    this.dispensers = new Map();
    this.tiles = new Map();
    this.lines = new Map(); // channel -> { up, reason }
    this.prices = new Map(); // "c/d" -> Map(grade -> price)
  }

  list() {
    return [...this.dispensers.values()].sort((a, b) => a.channel - b.channel || a.dispenser - b.dispenser);
  }

  setAll(dispensers) {
    for (const dispenser of dispensers) this.update(dispenser);
  }

  update(dispenser) {
    const key = dispenserKey(dispenser.channel, dispenser.dispenser);
    this.dispensers.set(key, dispenser);
    let tile = this.tiles.get(key);
    if (!tile) {
      tile = this.build(dispenser);
      this.tiles.set(key, tile);
      this.placeInOrder(key, tile.root);
    }
    this.render(tile, dispenser);
  }

  // Health tells up or down without a reason: a known reason is kept.
  setLine(channel, up, reason) {
    const known = this.lines.get(channel);
    this.lines.set(channel, { up, reason: reason || (!up && known && !known.up ? known.reason : '') });
    for (const dispenser of this.dispensers.values()) {
      if (dispenser.channel === channel) this.update(dispenser);
    }
  }

  linesDown() {
    return [...this.lines.entries()].filter(([, line]) => !line.up).sort((a, b) => a[0] - b[0]);
  }

  setPrices(book) {
    this.prices.clear();
    this.mergePrices(book);
  }

  mergePrices(entries) {
    for (const entry of entries) {
      const key = dispenserKey(entry.channel, entry.dispenser);
      if (!this.prices.has(key)) this.prices.set(key, new Map());
      this.prices.get(key).set(entry.grade, entry.price);
    }
  }

  pricesOf(dispenser) {
    return this.prices.get(dispenserKey(dispenser.channel, dispenser.dispenser)) ?? new Map();
  }

  placeInOrder(key, node) {
    const keys = this.list().map((d) => dispenserKey(d.channel, d.dispenser));
    const next = keys.slice(keys.indexOf(key) + 1).find((k) => this.tiles.get(k)?.root.isConnected);
    this.container.insertBefore(node, next ? this.tiles.get(next).root : null);
  }

  build(dispenser) {
    const field = (label, className = '') => {
      const value = el('div', { class: className });
      return { node: el('div', {}, el('div', { class: 'label', text: label }), value), value };
    };
    const volume = field('Volume (l)', 'big');
    const amount = field('Amount', 'big');
    const grade = field('Grade');
    const price = field('Price');
    const nozzle = field('Nozzle');
    const limit = field('Limit');
    const name = dispenserName(dispenser.channel, dispenser.dispenser);
    const tile = {
      state: el('span', { class: 'state' }),
      volume: volume.value,
      amount: amount.value,
      grade: grade.value,
      price: price.value,
      nozzle: nozzle.value,
      limit: limit.value,
      progress: el('progress', { max: 1, value: 0, 'aria-label': `${name}: progress toward the limit` }),
      link: el('div', { class: 'link' }),
    };
    const children = [
      el('header', {}, el('h2', { text: name }), tile.state),
      el('div', { class: 'figures' }, volume.node, amount.node, grade.node, price.node, nozzle.node, limit.node),
      tile.progress,
      tile.link,
    ];
    if (this.actions.canOperate) {
      tile.authorize = el('button', { class: 'primary', text: 'Authorize', 'aria-label': `Authorize ${name}` });
      tile.stop = el('button', { class: 'danger', text: 'Stop', 'aria-label': `Stop ${name}` });
      tile.authorize.addEventListener('click', () => this.actions.authorize(this.current(dispenser)));
      tile.stop.addEventListener('click', () => this.actions.stop(this.current(dispenser), tile.stop));
      children.push(el('div', { class: 'actions' }, tile.authorize, tile.stop));
    }
    tile.root = el(
      'article',
      { class: 'tile', 'data-dispenser': dispenserKey(dispenser.channel, dispenser.dispenser), 'aria-label': name },
      children,
    );
    return tile;
  }

  current(dispenser) {
    return this.dispensers.get(dispenserKey(dispenser.channel, dispenser.dispenser));
  }

  render(tile, d) {
    const line = this.lines.get(d.channel);
    const lineDown = (line && !line.up) || d.link === Link.lineDown;
    tile.root.className = `tile ${stateClass(d.state)}${lineDown ? ' line-down' : ''}`;
    tile.root.dataset.state = d.state;
    tile.state.textContent = stateWords(d.state);
    tile.volume.textContent = fixed2(d.volume);
    tile.amount.textContent = fixed2(d.amount);
    tile.grade.textContent = d.grade ?? '–';
    tile.price.textContent = fixed2(d.price);
    tile.nozzle.textContent = d.nozzle ? `${d.nozzle} lifted` : 'all hung';
    tile.limit.textContent = describeLimit(d.limit);

    const target = d.limit?.volume ?? d.limit?.amount;
    const done = d.limit?.volume !== undefined ? d.volume : d.amount;
    // Kept in the layout when unused, so that tiles stay the same height.
    const limited = typeof target === 'number' && target > 0;
    tile.progress.style.visibility = limited ? 'visible' : 'hidden';
    tile.progress.value = limited ? Math.min(1, (done ?? 0) / target) : 0;

    if (lineDown) {
      tile.link.className = 'link link-down';
      tile.link.textContent = `Line ${d.channel} down${line?.reason ? `: ${line.reason}` : ''}`;
    } else if (d.link && d.link !== Link.ok) {
      tile.link.className = 'link link-down';
      tile.link.textContent = `Link: ${d.link}`;
    } else {
      tile.link.className = 'link muted';
      tile.link.textContent = 'Link OK';
    }

    if (tile.authorize) {
      const busy = [State.authorized, State.filling].includes(d.state);
      tile.authorize.disabled = busy || lineDown || d.state === State.noPrices;
    }
  }
}
