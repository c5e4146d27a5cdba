// SPDX-License-Identifier: Apache-2.0
// The accessibility check: axe-core run in the page as it stands, reporting
// the serious and critical violations. Evaluated rather than added as a
// script tag, so the page's Content-Security-Policy does not stop it.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const kAxe = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

export async function seriousViolations(page) {
  await page.evaluate(kAxe);
  const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return result.violations
    .filter((violation) => ['serious', 'critical'].includes(violation.impact))
    .map((violation) => `${violation.id}: ${violation.help} (${violation.nodes.map((node) => node.target.join(' ')).join(', ')})`);
}
