// SPDX-License-Identifier: Apache-2.0
// The words the service's API answers with, named once: the page compares
// against these names, never against the strings themselves.

// A dispenser's state.
export const State = Object.freeze({
  idle: 'idle',
  authorized: 'authorized',
  filling: 'filling',
  stopped: 'stopped',
  finished: 'finished',
  noPrices: 'no prices',
  noReply: 'no reply',
  unknown: 'unknown',
});

// A dispenser's link: "ok", the line down, or the last link error.
export const Link = Object.freeze({
  ok: 'ok',
  lineDown: 'line down',
});

// What became of a new price table on one dispenser; anything else is the failure.
export const PriceResult = Object.freeze({
  downloaded: 'downloaded',
  deferred: 'deferred',
});

// What the emergency stop did on one dispenser; anything else is why it did not.
export const StopResult = Object.freeze({
  stopped: 'stopped',
});
