// Starts the page: signs in, finds what the token may do, loads the views
// and keeps them live from the event stream.
import { get, health, readSession, describe, allows, kRoles } from './api.js';
import { learnStation, localizeStamps, dispenserName } from './format.js';
import { kText } from './strings.js';
import { applyLabels } from './labels.js';
import { Chime } from './chime.js';
import { takeTokenFromAddress, storedToken, storeToken, forgetToken } from './session.js';
import { EventStream } from './events.js';
import { Forecourt } from './forecourt.js';
import { Actions } from './actions.js';
import { PriceBook } from './prices.js';
import { Journal } from './journal.js';
import { Sales } from './sales.js';
import { Shift } from './shift.js';

const $ = (id) => document.getElementById(id);

const refusalWords = (error) => describe(error);

function showLogin(message = '') {
  $('app').hidden = true;
  $('login').hidden = false;
  $('login-error').textContent = message;
  $('login-token').focus();
}

let noticeTimer;
function notify(message, isError = false) {
  const notice = $('notice');
  notice.textContent = message;
  notice.classList.toggle('error', isError);
  notice.hidden = false;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => (notice.hidden = true), isError ? 15000 : 5000);
}

let showForecourt = () => {};

function setupTabs() {
  const tabs = [...document.querySelectorAll('[role=tab]')];
  const select = (tab) => {
    for (const other of tabs) {
      const selected = other === tab;
      other.setAttribute('aria-selected', String(selected));
      other.tabIndex = selected ? 0 : -1;
      $(other.getAttribute('aria-controls')).hidden = !selected;
    }
  };
  showForecourt = () => select($('tab-forecourt'));
  tabs.forEach((tab) => {
    tab.addEventListener('click', () => select(tab));
    tab.addEventListener('keydown', (event) => {
      const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
      if (!step) return;
      // Tabs of views this station does not have are hidden and skipped.
      const shown = tabs.filter((other) => !other.hidden);
      const at = shown.indexOf(tab);
      const next = shown[(at + step + shown.length) % shown.length];
      select(next);
      next.focus();
    });
  });
}

// What the role lets the page offer. A role not told (an older station)
// offers every control, and the first refusal (403) takes back what the
// token may not do; the station checks every write itself anyway.
function offered(role, needed) {
  return role === null || allows(role, needed);
}

class Station {
  // session: the token's { name, role } as the station tells them; role null when it does not.
  constructor(session) {
    const role = session.role ?? null;
    this.role = role;
    this.showRole();
    this.forecourt = new Forecourt($('tiles'), {
      canOperate: offered(role, 'operate'),
      authorize: (d) => this.actions.authorize(d),
      quickAuthorize: (d, grade, amount, tile) => this.actions.quickAuthorize(d, grade, amount, tile),
      stop: (d, button) => this.actions.stop(d, button),
    });
    this.chime = new Chime($('chime'));
    this.forecourt.onCalling = () => this.chime.ring();
    this.forecourt.onCallingChange = (calling) => this.showCalling(calling);
    this.nextCalling = 0;
    $('calling').addEventListener('click', () => this.revealCalling());
    this.actions = new Actions(this.forecourt, notify, (error) => this.learnRole(error, 'operate'));
    this.prices = new PriceBook(this.forecourt, offered(role, 'admin'), (error) => this.learnRole(error, 'admin'));
    this.journal = new Journal(this.forecourt, () => this.shift?.newest() ?? null);
    this.sales = new Sales(this.forecourt, { name: session.name ?? null, role }, (error) => this.learnRole(error, 'operate'));
    this.shift = new Shift((error) => this.learnRole(error, 'operate'));
    this.stream = new EventStream({
      onEvent: (event) => this.onEvent(event),
      onLive: (live) => this.onLive(live),
      onRefused: () => this.signOut(kText.tokenWithdrawn),
    });
  }

  // The header tells from any view how many pumps call; each press shows
  // the next, the one waiting longest first.
  showCalling(calling) {
    const badge = $('calling');
    badge.hidden = calling.length === 0;
    document.body.dataset.calling = String(calling.length > 0);
    this.nextCalling = 0;
    if (calling.length === 0) return;
    const names = calling.map((d) => dispenserName(d.channel, d.dispenser));
    badge.textContent = kText.callingBadge(calling.length, names[0]);
    badge.title = kText.callingWho(names.join(', '));
  }

  revealCalling() {
    const calling = this.forecourt.calling();
    if (calling.length === 0) return;
    showForecourt();
    this.forecourt.reveal(calling[this.nextCalling % calling.length]);
    this.nextCalling = (this.nextCalling + 1) % calling.length;
  }

  showRole() {
    for (const node of document.querySelectorAll('[data-needs]')) node.hidden = !offered(this.role, node.dataset.needs);
    $('who').textContent = this.role === null ? kText.roleUntold : kText.roleIs(this.role);
  }

  // Only while the role is not told: a write refused with 403 means the
  // token's role is below the one it needed, so what it cannot use goes away.
  learnRole(error, needed) {
    if (this.role !== null || error?.status !== 403) return;
    this.role = kRoles[kRoles.indexOf(needed) - 1];
    this.showRole();
    this.prices.canEdit = false;
    this.prices.render();
    if (this.role === 'view') {
      for (const node of document.querySelectorAll('.tile .actions, .tile .quick, .tile .why')) node.remove();
      this.sales.canOperate = false;
      this.sales.render();
      this.forecourt.actions.canOperate = false;
    }
  }

  async start() {
    await this.refresh();
    this.stream.start();
  }

  // Reads what the stream does not replay; again after every break.
  async refresh() {
    try {
      const dispensers = await get('/dispensers');
      this.forecourt.setAll(dispensers);
      await this.loadSettlement(dispensers);
      await this.prices.load();
      await this.readLines();
      await this.journal.load();
    } catch (error) {
      notify(kText.loadFailed(describe(error)), true);
    }
  }

  // Unpaid sales and shifts exist only on a station that keeps them; an
  // older station has neither route and their tabs stay hidden.
  async loadSettlement(dispensers) {
    const sales = Sales.offered(dispensers);
    $('tab-sales').hidden = !sales;
    if (sales) await this.sales.load();
    $('tab-shift').hidden = !(await this.shift.load());
  }

  async readLines() {
    try {
      const state = await health();
      for (const line of state.lines ?? []) this.forecourt.setLine(line.channel, line.up, line.reason ?? '');
      this.showLines();
    } catch {
      // The stream's `line` events tell the same once it is back.
    }
  }

  showLines() {
    const down = this.forecourt.linesDown();
    const banner = $('lines-down');
    banner.hidden = down.length === 0;
    banner.textContent = down
      .map(([channel, line]) => kText.lineDown(channel, line.reason))
      .join(' ');
  }

  onEvent({ event, data }) {
    if (event === 'dispenser') this.forecourt.update(data);
    else if (event === 'fill') {
      this.journal.add(data);
      if (!$('tab-sales').hidden) this.sales.add(data);
    } else if (event === 'shift') {
      this.shift.merge(data);
      this.journal.offerNozzles();
    }
    else if (event === 'alarm') {
      const where = data.dispenser ? kText.pumpName(data.channel, data.dispenser) : '';
      notify(kText.alarm(data.kind, where, localizeStamps(data.detail ?? '')), true);
    }
    else if (event === 'prices') this.prices.merge(Array.isArray(data) ? data : data.prices ?? []);
    else if (event === 'line') {
      this.forecourt.setLine(data.channel, data.up, data.reason ?? '');
      this.showLines();
    }
  }

  onLive(live) {
    const badge = $('live');
    if (badge.dataset.live === String(live)) return;
    badge.dataset.live = String(live);
    badge.textContent = live ? kText.live : kText.notLive;
    document.body.dataset.live = String(live);
    $('emergency').textContent = live ? kText.emergency : kText.emergencyOffline;
    this.forecourt.setLive(live);
    if (live && this.wasLive) this.refresh();
    this.wasLive ||= live;
  }

  signOut(message) {
    this.stream.stop();
    forgetToken();
    sessionStorage.setItem('quorlan.message', message ?? '');
    location.reload();
  }
}

async function signIn(token) {
  const session = await readSession(token); // 401 for a wrong token
  if (session.role === null) await get('/dispensers', { token }); // an older station may answer 404 before judging the token
  learnStation(session);
  storeToken(token);
  $('login').hidden = true;
  $('app').hidden = false;
  const station = new Station(session);
  $('logout').addEventListener('click', () => station.signOut(''));
  station.start();
}

async function begin() {
  applyLabels();
  setupTabs();
  const message = sessionStorage.getItem('quorlan.message');
  sessionStorage.removeItem('quorlan.message');
  $('login-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const token = $('login-token').value.trim();
    const button = event.target.querySelector('button');
    button.disabled = true;
    try {
      await signIn(token);
    } catch (error) {
      showLogin(refusalWords(error));
    } finally {
      button.disabled = false;
    }
  });
  const token = takeTokenFromAddress() ?? storedToken();
  if (!token) {
    showLogin(message ?? '');
    return;
  }
  try {
    await signIn(token);
  } catch (error) {
    forgetToken();
    showLogin(refusalWords(error));
  }
}

begin();
