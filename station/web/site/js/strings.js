// SPDX-License-Identifier: Apache-2.0
// Every sentence the page writes, in one table, so a translation replaces
// this file only. Entries with parameters are functions.
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

  // Commands.
  priceRange: 'Prices run from 0.01 to 99.99, with at most two decimals.',
  noPricesSet: 'No prices set for this dispenser.',
  chooseGrade: 'Choose a grade.',
  limitRange: 'Enter a limit from 0.01 to 9999.99 with at most two decimals.',
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
};
