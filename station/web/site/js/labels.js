// SPDX-License-Identifier: Apache-2.0
// Puts the strings table's words into the page's fixed elements, which name
// their entry: data-text for what is shown, data-label for a name only a
// screen reader says.
import { kText } from './strings.js';

// The keys the page names that the table lacks; empty when all are there.
export function applyLabels(root = document) {
  const missing = [];
  const word = (key) => {
    const text = kText[key];
    if (typeof text === 'string') return text;
    missing.push(key);
    return key; // a key on screen is found at once; a blank is not
  };
  for (const node of root.querySelectorAll('[data-text]')) node.textContent = word(node.dataset.text);
  for (const node of root.querySelectorAll('[data-label]')) node.setAttribute('aria-label', word(node.dataset.label));
  return missing;
}
