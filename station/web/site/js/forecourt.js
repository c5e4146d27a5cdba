// The forecourt: one tile per dispenser, updated in place from the API and
// the event stream, so a button keeps its focus while figures change.
import { el, fixed2, money, station, gradeName, dispenserKey, dispenserName, stateWords, stateClass, describeLimit } from './format.js';
import { kHighestLimit, kLowestLimit } from './limits.js';
import { kText } from './strings.js';

export class Forecourt {
  // actions: { canOperate, authorize(dispenser), quickAuthorize(dispenser, grade, amount, form), stop(dispenser) }
  constructor(container, actions) {
    this.container = container;
    this.actions = actions;
    this.dispensers = new Map();
    this.tiles = new Map();
    this.lines = new Map(); // channel -> { up, reason }
    this.prices = new Map(); // "c/d" -> Map(grade -> price)
    this.unpaidAmounts = new Map(); // "c/d" -> sum of unpaid amounts, when the station lists them
    this.live = true;
    this.callingSince = new Map(); // "c/d" -> when this page first saw it calling
    this.onCalling = () => {};
    this.onCallingChange = () => {};
  }

  // The pumps calling now, the one waiting longest first.
  calling() {
    return [...this.callingSince.entries()].sort((a, b) => a[1] - b[1]).map(([key]) => this.dispensers.get(key));
  }

  // Brings a pump's tile into view and puts the focus on what serves the
  // customer: its one-tap Authorize (no keyboard pops up on a phone), else the tile.
  reveal(dispenser) {
    const tile = this.tiles.get(dispenserKey(dispenser.channel, dispenser.dispenser));
    if (!tile) return;
    tile.root.scrollIntoView({ block: 'center' });
    const target = tile.quick?.isConnected && !tile.quick.hidden ? tile.quickGo : tile.root;
    target.focus({ preventScroll: true });
  }

  setLive(live) {
    this.live = live;
    for (const dispenser of this.dispensers.values()) this.update(dispenser);
  }

  setUnpaidAmounts(amounts) {
    this.unpaidAmounts = amounts;
    for (const dispenser of this.dispensers.values()) this.update(dispenser);
  }

  list() {
    return [...this.dispensers.values()].sort((a, b) => a.channel - b.channel || a.dispenser - b.dispenser);
  }

  setAll(dispensers) {
    for (const dispenser of dispensers) this.update(dispenser);
  }

  update(dispenser) {
    const key = dispenserKey(dispenser.channel, dispenser.dispenser);
    const before = this.dispensers.get(key);
    // A command's answer can arrive after the stream told of a later state
    // (the pump already filling, or finished): the older object is dropped,
    // or the tile would stay on a state long gone.
    if (before && Date.parse(dispenser.updated_at) < Date.parse(before.updated_at)) return;
    this.dispensers.set(key, dispenser);
    if (dispenser.state === 'calling' && before && before.state !== 'calling') this.onCalling(dispenser);
    const wasCalling = this.callingSince.has(key);
    if (dispenser.state === 'calling' && !wasCalling) this.callingSince.set(key, Date.now());
    if (dispenser.state !== 'calling') this.callingSince.delete(key);
    let tile = this.tiles.get(key);
    if (!tile) {
      tile = this.build(dispenser);
      this.tiles.set(key, tile);
      this.placeInOrder(key, tile.root);
    }
    this.render(tile, dispenser);
    if (wasCalling !== this.callingSince.has(key)) this.onCallingChange(this.calling());
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
    const volume = field(kText.volume, 'big');
    const amount = field(kText.amount, 'big');
    const grade = field(kText.grade);
    const price = field(kText.price);
    const nozzle = field(kText.nozzle);
    const limit = field(kText.limit);
    const name = dispenserName(dispenser.channel, dispenser.dispenser);
    const tile = {
      state: el('span', { class: 'state' }),
      volume: volume.value,
      amount: amount.value,
      grade: grade.value,
      price: price.value,
      nozzle: nozzle.value,
      limit: limit.value,
      progress: el('progress', { max: 1, value: 0, 'aria-label': kText.progress(name) }),
      link: el('div', { class: 'link' }),
      figuresLabel: el('div', { class: 'sale-label' }),
      calling: el('p', { class: 'calling-note' }),
      unpaid: el('p', { class: 'unpaid' }),
      why: el('p', { class: 'why muted', id: `why-${dispenser.channel}-${dispenser.dispenser}` }),
      labels: { volume: volume.node.firstChild, amount: amount.node.firstChild },
    };
    // A customer waiting comes first: the note, then the one-tap Authorize.
    const children = [
      el('header', {}, el('h2', { text: name }), tile.state),
      tile.calling,
      tile.figuresLabel,
      el('div', { class: 'figures' }, volume.node, amount.node, grade.node, price.node, nozzle.node, limit.node),
      tile.progress,
      tile.unpaid,
      tile.link,
    ];
    if (this.actions.canOperate) {
      // A customer waiting at a lifted nozzle is authorized in one step:
      // the nozzle tells the grade, an amount is the optional prepay limit.
      const limitId = `quick-${dispenser.channel}-${dispenser.dispenser}`;
      tile.quickLimit = el('input', {
        id: limitId, type: 'number', min: String(kLowestLimit), max: String(kHighestLimit), step: '0.01', inputmode: 'decimal', class: 'quick-limit',
      });
      tile.quickGo = el('button', { type: 'submit', class: 'primary call-go' });
      tile.quick = el(
        'form',
        { class: 'quick' },
        el('label', { for: limitId, text: kText.quickLimit }),
        tile.quickLimit,
        tile.quickGo,
      );
      tile.quick.addEventListener('submit', (event) => {
        event.preventDefault();
        const current = this.current(dispenser);
        this.actions.quickAuthorize(current, current.nozzle, tile.quickLimit.value, tile);
      });
      tile.authorize = el('button', { class: 'primary', text: kText.authorize, 'aria-label': kText.authorizeName(name), 'aria-describedby': tile.why.id });
      tile.stop = el('button', { class: 'danger', text: kText.stop, 'aria-label': kText.stopName(name) });
      tile.authorize.addEventListener('click', () => this.actions.authorize(this.current(dispenser)));
      tile.stop.addEventListener('click', () => this.actions.stop(this.current(dispenser), tile.stop));
      children.splice(2, 0, tile.quick);
      children.push(el('div', { class: 'actions' }, tile.authorize, tile.stop), tile.why);
    }
    tile.root = el(
      'article',
      { class: 'tile', 'data-dispenser': dispenserKey(dispenser.channel, dispenser.dispenser), 'aria-label': name, tabindex: '-1' },
      children,
    );
    return tile;
  }

  current(dispenser) {
    return this.dispensers.get(dispenserKey(dispenser.channel, dispenser.dispenser));
  }

  // Why Authorize cannot be used now, or '' when it can.
  blocked(d, lineDown) {
    if (!this.live) return kText.why.offline;
    if (lineDown) return kText.why.lineDown;
    if (d.state === 'no reply' || (d.link && d.link !== 'ok')) return kText.why.noReply;
    if (['authorized', 'filling'].includes(d.state)) return kText.why.busy;
    if (d.state === 'no prices') return kText.why.noPrices;
    return '';
  }

  render(tile, d) {
    const line = this.lines.get(d.channel);
    const lineDown = (line && !line.up) || d.link === 'line down';
    tile.root.className = `tile ${stateClass(d.state)}${lineDown ? ' line-down' : ''}`;
    tile.root.dataset.state = d.state;
    tile.state.textContent = stateWords(d.state);
    // Between sales the figures are the last sale's, not money owed now.
    const running = ['authorized', 'filling', 'stopped'].includes(d.state);
    tile.figuresLabel.textContent = running ? '' : kText.lastSale;
    tile.figuresLabel.hidden = running;
    tile.volume.textContent = fixed2(d.volume);
    // The currency code sits small beside the big figure, never under it.
    tile.amount.replaceChildren(fixed2(d.amount), station.currency ? el('span', { class: 'unit', text: ` ${station.currency}` }) : '');
    tile.grade.textContent = gradeName(d.grade);
    tile.price.textContent = money(d.price);
    tile.nozzle.textContent = d.nozzle ? kText.nozzleLifted(d.nozzle) : kText.allHung;
    tile.limit.textContent = describeLimit(d.limit);

    const calling = d.state === 'calling';
    tile.calling.hidden = !calling;
    tile.calling.textContent = calling ? kText.calling(d.nozzle ?? '?') : '';

    // Present only on a station that keeps the unpaid stack.
    const unpaid = typeof d.unpaid === 'number' ? d.unpaid : null;
    tile.unpaid.hidden = !unpaid;
    const owed = this.unpaidAmounts.get(dispenserKey(d.channel, d.dispenser));
    tile.unpaid.textContent = unpaid ? kText.unpaid(unpaid, owed === undefined ? '' : money(owed)) : '';

    const target = d.limit?.volume ?? d.limit?.amount;
    const done = d.limit?.volume !== undefined ? d.volume : d.amount;
    // Kept in the layout when unused, so that tiles stay the same height.
    const limited = typeof target === 'number' && target > 0;
    tile.progress.classList.toggle('unused', !limited);
    tile.progress.value = limited ? Math.min(1, (done ?? 0) / target) : 0;

    if (lineDown) {
      tile.link.className = 'link link-down';
      tile.link.textContent = kText.lineDownOnTile(d.channel, line?.reason);
    } else if (d.link && d.link !== 'ok') {
      tile.link.className = 'link link-down';
      tile.link.textContent = kText.linkFailed(d.link);
    } else {
      tile.link.className = 'link muted';
      tile.link.textContent = kText.linkOk;
    }

    if (tile.authorize) {
      const why = this.blocked(d, lineDown);
      tile.authorize.disabled = why !== '';
      tile.why.textContent = why;
      tile.why.hidden = why === '';
      const quick = calling && why === '';
      tile.quick.hidden = !quick;
      if (quick) tile.quickGo.textContent = kText.quickGo(gradeName(d.nozzle));
    }
  }
}
