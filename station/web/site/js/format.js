// Small helpers shared by every view: building DOM nodes and writing figures.
import { kText } from './strings.js';

// What the station tells of itself (its zone, currency, grade names); until
// it does, or on a station that does not, times are in the browser's zone,
// money has no symbol and grades go by number.
export const station = { timeZone: undefined, currency: '', gradeNames: new Map() };

export function learnStation(settings = {}) {
  if (typeof settings.timezone === 'string' && settings.timezone) {
    try {
      new Intl.DateTimeFormat('en', { timeZone: settings.timezone });
      station.timeZone = settings.timezone;
    } catch {
      // An unknown zone leaves the browser's: better a time than none.
    }
  }
  if (typeof settings.currency === 'string') station.currency = settings.currency;
  for (const grade of settings.grades ?? []) {
    if (Number.isInteger(grade?.number) && typeof grade.name === 'string') station.gradeNames.set(grade.number, grade.name);
  }
}

export function gradeName(grade) {
  if (grade === null || grade === undefined) return '–';
  return station.gradeNames.get(grade) ?? kText.gradeNumber(grade);
}

// An amount with the station's currency code when it has one.
export function money(value) {
  const figure = fixed2(value);
  return station.currency && figure !== '–' ? `${figure} ${station.currency}` : figure;
}

// Creates an element; text always goes through textContent, never as markup.
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === 'class') node.className = value;
    else if (name === 'text') node.textContent = value;
    else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

// Money and volume carry two decimals everywhere.
export function fixed2(value) {
  return typeof value === 'number' && Number.isFinite(value) ? value.toFixed(2) : '–';
}

export function dispenserKey(channel, dispenser) {
  return `${channel}/${dispenser}`;
}

export function dispenserName(channel, dispenser) {
  return kText.pumpName(channel, dispenser);
}

export function describeLimit(limit) {
  if (!limit || typeof limit !== 'object') return kText.noLimit;
  if (typeof limit.volume === 'number') return `${fixed2(limit.volume)} l`;
  if (typeof limit.amount === 'number') return `amount ${fixed2(limit.amount)}`;
  return kText.noLimit;
}

// The words a person reads for each state; the class gives the colour.
export function stateWords(state) {
  return kText.states[state] ?? kText.states.unknown;
}

export function stateClass(state) {
  return `state-${(kText.states[state] ? state : 'unknown').replace(/ /g, '-')}`;
}

// The calendar day of a moment in the station's zone, as YYYY-MM-DD.
function dayOf(date) {
  return new Intl.DateTimeFormat('en-CA', { timeZone: station.timeZone, year: 'numeric', month: '2-digit', day: '2-digit' }).format(date);
}

// A time of day with its zone, so a reader in another zone is not misled.
export function localTime(iso) {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '–';
  return new Intl.DateTimeFormat('en-GB', {
    timeZone: station.timeZone, hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false, timeZoneName: 'short',
  }).format(date);
}

// A moment on another day: its date as well.
export function localDateTime(iso) {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '–';
  return new Intl.DateTimeFormat('en-GB', {
    timeZone: station.timeZone, day: 'numeric', month: 'short', year: 'numeric',
    hour: '2-digit', minute: '2-digit', hour12: false, timeZoneName: 'short',
  }).format(date);
}

// Today's moments by their time alone, any other with its date.
export function localMoment(iso) {
  return isToday(iso) ? localTime(iso) : localDateTime(iso);
}

// The station's own words may carry a time (RFC 3339, often in UTC): each is
// written in the station's zone before a person reads it.
const kStamp = /\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(?:\.\d+)?(?:Z|[+-]\d{2}:\d{2})/g;
export function localizeStamps(text) {
  return String(text ?? '').replace(kStamp, (stamp) => localMoment(stamp));
}

// How long from now until a moment, in words ("1 min 40 s"); '' once it is past.
export function timeLeft(iso, now = Date.now()) {
  const seconds = Math.ceil((Date.parse(iso) - now) / 1000);
  if (!(seconds > 0)) return '';
  return kText.duration(Math.floor(seconds / 60), seconds % 60);
}

// "Today" is the station's day, not the browser's.
export function isToday(iso) {
  const date = new Date(iso);
  return !Number.isNaN(date.getTime()) && dayOf(date) === dayOf(new Date());
}

export function localDate() {
  return dayOf(new Date());
}

// On a narrow screen a table shows each row as a card: every cell carries
// its column's name, so no figure loses its meaning or is cut off.
export function labelCells(table) {
  const head = table.tHead?.rows[table.tHead.rows.length - 1];
  if (!head) return;
  const names = [...head.cells].map((cell) => cell.textContent.trim());
  for (const body of table.tBodies) {
    for (const row of body.rows) [...row.cells].forEach((cell, index) => (cell.dataset.label = names[index] ?? ''));
  }
  table.classList.add('cards');
}
