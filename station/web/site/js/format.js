// Small helpers shared by every view: building DOM nodes and writing figures.
import { State } from './words.js';

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
  return `Line ${channel} · Pump ${dispenser}`;
}

export function describeLimit(limit) {
  if (!limit || typeof limit !== 'object') return 'none';
  if (typeof limit.volume === 'number') return `${fixed2(limit.volume)} l`;
  if (typeof limit.amount === 'number') return `amount ${fixed2(limit.amount)}`;
  return 'none';
}

// The words a person reads for each state; the class gives the colour.
const kStates = {
  [State.idle]: 'Idle',
  [State.authorized]: 'Authorized',
  [State.filling]: 'Filling',
  [State.stopped]: 'Stopped',
  [State.finished]: 'Finished',
  [State.noPrices]: 'No prices',
  [State.noReply]: 'No reply',
  [State.unknown]: 'Unknown',
};

export function stateWords(state) {
  return kStates[state] ?? 'Unknown';
}

export function stateClass(state) {
  return `state-${(kStates[state] ? state : State.unknown).replace(/ /g, '-')}`;
}

export function localTime(iso) {
  const date = new Date(iso);
  return Number.isNaN(date.getTime()) ? '–' : date.toLocaleTimeString([], { hour12: false });
}

export function isToday(iso) {
  const date = new Date(iso);
  return !Number.isNaN(date.getTime()) && date.toDateString() === new Date().toDateString();
}

export function localDate() {
  const now = new Date();
  const pad = (n) => String(n).padStart(2, '0');
  return `${now.getFullYear()}-${pad(now.getMonth() + 1)}-${pad(now.getDate())}`;
}
