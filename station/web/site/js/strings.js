// SPDX-License-Identifier: Apache-2.0
// Every sentence the page writes, in one table, so a translation replaces
// this file only. Entries with parameters are functions.
import { kHighestLimit, kHighestPrice, kLowestLimit, kLowestPrice } from './limits.js';

export const kText = {
  roleIs: (role) => `Role: ${role}`,
  roleUntold: 'Role: not told',
  live: 'live',
  notLive: 'not live',
  lineDown: (channel, reason) => `Line ${channel} is down${reason ? ` (${reason})` : ''}.`,
  loadFailed: (words) => `Could not load the station. ${words}`,

  // Signing in.
  tokenRefused: 'The station refused this token. Check it against the one you were given and try again.',
  tokenWithdrawn: 'The station no longer accepts this token.',

  // Problems, in words a person acts on.
  unreachable: 'The station does not answer. Check that the station computer is on and its network cable is in, then try again.',
  forbidden: 'This token may not do that. Ask the station manager for an operator token.',
  notFound: 'The station does not know that pump or sale. Reload the page.',
  refused: (detail) => `The pump cannot do that now${detail ? ` (${detail})` : ''}. Wait for it to finish or hang up, then try again.`,
  noReply: (detail) => `The pump did not answer${detail ? ` (${detail})` : ''}. Check that it is powered and its cable is in, then try again.`,
  lineIsDown: 'The pump\'s line is down: nothing can reach it. Check the line\'s cable and converter.',
  badInput: (detail) => `The station could not accept this${detail ? ` (${detail})` : ''}. Correct it and try again.`,
  tooLarge: 'That is too much at once. Send fewer changes.',
  keyReused: 'This request was already sent with other figures. Reload the page and try again.',
  unexpected: (status) => `The station answered with an unexpected error (${status}). Try again; if it repeats, tell the station manager.`,

  // Forecourt.
  states: {
    idle: 'Idle',
    calling: 'Calling',
    authorized: 'Authorized',
    filling: 'Filling',
    stopped: 'Stopped',
    finished: 'Finished',
    'no prices': 'No prices',
    'no reply': 'No reply',
    unknown: 'Unknown',
  },
  volume: 'Volume (l)',
  amount: 'Amount',
  lastSale: 'Last sale',
  grade: 'Grade',
  price: 'Price',
  nozzle: 'Nozzle',
  limit: 'Limit',
  noLimit: 'none',
  nozzleLifted: (nozzle) => `${nozzle} lifted`,
  allHung: 'all hung',
  gradeNumber: (grade) => `Grade ${grade}`,
  pumpName: (channel, dispenser) => `Line ${channel} · Pump ${dispenser}`,
  progress: (name) => `${name}: progress toward the limit`,
  linkOk: 'Link OK',
  linkFailed: (link) => `Link: ${link}`,
  lineDownOnTile: (channel, reason) => `Line ${channel} down${reason ? `: ${reason}` : ''}`,
  unpaid: (count, amount) => `Unpaid: ${count}${amount ? ` · ${amount}` : ''}`,
  authorize: 'Authorize',
  authorizeName: (name) => `Authorize ${name}`,
  stop: 'Stop',
  stopName: (name) => `Stop ${name}`,
  quickLimit: 'Prepay amount (optional)',
  quickGo: (grade) => `Authorize ${grade}`,
  calling: (nozzle) => `Customer waiting at nozzle ${nozzle}`,
  why: {
    busy: 'Busy: this pump is already authorized or filling.',
    noPrices: 'No prices: set the prices for this pump first.',
    noReply: 'The pump does not answer, so it cannot be authorized.',
    lineDown: 'The line is down, so this pump cannot be reached.',
    offline: 'The station cannot be reached.',
  },
  chime: 'Chime on calling',

  // Journal and price book.
  nozzleNumber: (nozzle) => `Nozzle ${nozzle}`,
  reading: 'Reading…',
  totalsRead: (name, nozzle, volume, amount) => `${name}, nozzle ${nozzle}: ${volume} l, amount ${amount}`,
  atThePump: 'at the pump',
  recovered: ' (recovered)',
  allDispensers: 'All dispensers',
  priceCell: (name, grade) => `${name}, ${grade}`,
  gradeForAll: (grade) => `${grade} for all dispensers`,
  deferred: 'deferred until the fill ends',
  downloadFailed: (outcome) => `failed: ${outcome}`,
  nothingToDownload: 'Stored; no dispenser needed a new table.',

  // Commands.
  priceRange: `Prices run from ${kLowestPrice} to ${kHighestPrice}, with at most two decimals.`,
  noPricesSet: 'No prices set for this dispenser.',
  chooseGrade: 'Choose a grade.',
  limitRange: `Enter a limit from ${kLowestLimit} to ${kHighestLimit} with at most two decimals.`,
  stopped: (name) => `${name} stopped.`,
  notStopped: (name, words) => `${name} did not stop. ${words}`,
  allStopped: 'Every dispenser stopped.',
  notAllStopped: (list) => `Not every dispenser confirmed the stop. ${list}`,
  emergency: 'Emergency stop',
  emergencyOffline: 'Emergency stop (station unreachable)',
  emergencyOfflineWarning:
    'The station cannot be reached right now. The stop is sent anyway; if it does not get through, use the stop switch on the forecourt.',
  emergencyNotReached:
    'The stop did not reach the station. Use the emergency stop switch on the forecourt now, then check the station computer.',

  // The journal's notes and the station's alarms.
  noteCancelled: 'Cancelled: the authorization ended without fuel.',
  noteMismatch: 'Mismatch: the pump\'s amount is not price × volume; the figures are as the pump gave them.',
  noteRefund: (amount) => `Refund ${amount} to the customer.`,
  alarm: (kind, where, detail) => `Alarm (${kind})${where ? `, ${where}` : ''}: ${detail}`,

  // Unpaid sales.
  saleRefused: (id, words) => `Sale ${id}: ${words}`,
  lockedBy: (till) => `Held by ${till}`,
  reference: 'Reference',
  referenceFor: (id) => `Payment reference for sale ${id} (optional)`,
  lock: 'Lock',
  unlock: 'Unlock',
  clear: 'Paid',

  // Shifts.
  chartTitle: 'Sales by hour and grade',
  shiftName: (id, closed) => `Shift ${id}, closed ${closed}`,
  shiftReport: (id) => `Shift ${id}`,
  shiftSpan: (opened, closed, by) => `From ${opened} to ${closed}${by ? `, closed by ${by}` : ''}.`,
  shiftTotals: (count, volume, amount) => `${count} sales · ${volume} l · ${amount}`,
  shiftUnpaid: (count, amount, cancelled) => `Unpaid at the close: ${count} (${amount}). Cancelled authorizations: ${cancelled}.`,
  unanswered: (count) => `${count} nozzles did not answer at the close: their meters are not in this report.`,
  noAnswer: 'no answer',
  byGrade: 'Per grade',
  byDispenser: 'Per pump',
  nozzles: 'Nozzle meters against the journal',
  dispenser: 'Dispenser',
  fillsCount: 'Sales',
  journalVolume: 'Journal (l)',
  meterVolume: 'Meter (l)',
  differenceVolume: 'Difference (l)',
  differenceAmount: 'Difference (amount)',
};
