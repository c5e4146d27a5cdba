// Starts the page: signs in, finds what the token may do, loads the views
// and keeps them live from the event stream.
import { get, health, probeRole, allows } from './api.js';
import { takeTokenFromAddress, storedToken, storeToken, forgetToken } from './session.js';
import { EventStream } from './events.js';
import { Forecourt } from './forecourt.js';
import { Actions } from './actions.js';
import { PriceBook } from './prices.js';
import { Journal } from './journal.js';

const $ = (id) => document.getElementById(id);

function refusalWords(error) {
  if (error.status === 401) return 'This token was refused by the station. Check it and try again.';
  if (error.status === 0) return 'The station does not answer. Try again in a moment.';
  return `The station refused to sign in: ${error.message}`;
}

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
  tabs.forEach((tab, index) => {
    tab.addEventListener('click', () => select(tab));
    tab.addEventListener('keydown', (event) => {
      const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
      if (!step) return;
      const next = tabs[(index + step + tabs.length) % tabs.length];
      select(next);
      next.focus();
    });
  });
}

class Station {
  constructor(role) {
    this.role = role;
    for (const node of document.querySelectorAll('[data-needs]')) node.hidden = !allows(role, node.dataset.needs);
    $('who').textContent = `Role: ${role}`;
    this.forecourt = new Forecourt($('tiles'), {
      canOperate: allows(role, 'operate'),
      authorize: (d) => this.actions.authorize(d),
      stop: (d, button) => this.actions.stop(d, button),
    });
    this.actions = new Actions(this.forecourt, notify);
    this.prices = new PriceBook(this.forecourt, allows(role, 'admin'));
    this.journal = new Journal(this.forecourt);
    this.stream = new EventStream({
      onEvent: (event) => this.onEvent(event),
      onLive: (live) => this.onLive(live),
      onRefused: () => this.signOut('The station no longer accepts this token.'),
    });
  }

  async start() {
    await this.refresh();
    this.stream.start();
  }

  // Reads what the stream does not replay; again after every break.
  async refresh() {
    try {
      this.forecourt.setAll(await get('/dispensers'));
      await this.prices.load();
      await this.readLines();
      await this.journal.load();
    } catch (error) {
      notify(`Could not load the station: ${error.message}`, true);
    }
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
      .map(([channel, line]) => `Line ${channel} is down${line.reason ? ` (${line.reason})` : ''}.`)
      .join(' ');
  }

  onEvent({ event, data }) {
    if (event === 'dispenser') this.forecourt.update(data);
    else if (event === 'fill') this.journal.add(data);
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
    badge.textContent = live ? 'live' : 'not live';
    document.body.dataset.live = String(live);
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
  await get('/dispensers', { token }); // 401 for a wrong token
  const role = await probeRole(token);
  storeToken(token);
  $('login').hidden = true;
  $('app').hidden = false;
  const station = new Station(role);
  $('logout').addEventListener('click', () => station.signOut(''));
  station.start();
}

async function begin() {
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
