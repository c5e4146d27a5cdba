// The operator's commands: authorize (grade, then a limit), stop, and the
// station-wide emergency stop behind a confirmation.
import { post } from './api.js';
import { el, fixed2, dispenserName } from './format.js';
import { kHighestLimit, kLowestLimit } from './limits.js';
import { StopResult } from './words.js';

const kGrades = [1, 2, 3, 4, 5, 6, 7, 8];

function closeButtons(dialog) {
  for (const button of dialog.querySelectorAll('[data-close]')) {
    button.addEventListener('click', () => dialog.close());
  }
}

export class Actions {
  // notify(message, isError) shows a short message under the header.
  constructor(forecourt, notify) {
    this.forecourt = forecourt;
    this.notify = notify;
    this.dialog = document.getElementById('authorize-dialog');
    this.form = document.getElementById('authorize-form');
    this.grades = document.getElementById('authorize-grades');
    this.limit = document.getElementById('authorize-limit');
    this.error = document.getElementById('authorize-error');
    closeButtons(this.dialog);
    this.form.addEventListener('change', () => this.syncLimit());
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.submitAuthorize();
    });

    this.emergency = document.getElementById('emergency-dialog');
    closeButtons(this.emergency);
    this.emergency.querySelector('form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.submitEmergency();
    });
    document.getElementById('emergency').addEventListener('click', () => {
      document.getElementById('emergency-error').textContent = '';
      this.emergency.showModal();
    });
  }

  authorize(dispenser) {
    this.target = dispenser;
    document.getElementById('authorize-title').textContent = `Authorize ${dispenserName(dispenser.channel, dispenser.dispenser)}`;
    const prices = this.forecourt.pricesOf(dispenser);
    const offered = kGrades.filter((grade) => prices.has(grade));
    this.grades.replaceChildren(
      ...offered.map((grade, index) =>
        el(
          'label',
          {},
          el('input', { type: 'radio', name: 'grade', value: grade, checked: index === 0, required: true }),
          `Grade ${grade} · ${fixed2(prices.get(grade))}`,
        ),
      ),
    );
    if (offered.length === 0) this.grades.append(el('p', { class: 'error', text: 'No prices set for this dispenser.' }));
    this.form.elements.limit.value = 'none';
    this.limit.value = '';
    this.error.textContent = '';
    this.syncLimit();
    this.dialog.showModal();
  }

  syncLimit() {
    const kind = this.form.elements.limit.value;
    this.limit.disabled = kind === 'none';
    this.limit.required = kind !== 'none';
  }

  async submitAuthorize() {
    const grade = Number(this.form.elements.grade?.value);
    if (!grade) {
      this.error.textContent = 'Choose a grade.';
      return;
    }
    const body = { grade };
    const kind = this.form.elements.limit.value;
    if (kind !== 'none') {
      const value = Number(this.limit.value);
      if (!(value >= kLowestLimit && value <= kHighestLimit) || Math.round(value * 100) !== value * 100) {
        this.error.textContent = `Enter a limit from ${fixed2(kLowestLimit)} to ${fixed2(kHighestLimit)} with at most two decimals.`;
        return;
      }
      body[kind] = value;
    }
    const { channel, dispenser } = this.target;
    const submit = this.form.querySelector('button[type=submit]');
    submit.disabled = true;
    try {
      const answer = await post(`/dispensers/${channel}/${dispenser}/authorize`, body);
      if (answer?.channel) this.forecourt.update(answer);
      this.dialog.close();
    } catch (error) {
      this.error.textContent = error.message;
    } finally {
      submit.disabled = false;
    }
  }

  async stop(dispenser, button) {
    const name = dispenserName(dispenser.channel, dispenser.dispenser);
    button.disabled = true;
    try {
      const answer = await post(`/dispensers/${dispenser.channel}/${dispenser.dispenser}/stop`);
      if (answer?.channel) this.forecourt.update(answer);
      this.notify(`${name} stopped.`);
    } catch (error) {
      this.notify(`${name} did not stop: ${error.message}`, true);
    } finally {
      button.disabled = false;
    }
  }

  async submitEmergency() {
    try {
      const answer = await post('/stop');
      this.emergency.close();
      // Each dispenser answers "stopped" or why it did not.
      const failures = (answer?.dispensers ?? []).filter((entry) => entry.result !== StopResult.stopped);
      if (failures.length === 0) {
        this.notify('Every dispenser stopped.');
      } else {
        const names = failures.map((entry) =>
          entry.dispenser ? `${dispenserName(entry.channel, entry.dispenser)}: ${entry.result}` : `Line ${entry.channel}: ${entry.result}`,
        );
        this.notify(`Not every dispenser confirmed the stop. ${names.join('; ')}`, true);
      }
    } catch (error) {
      document.getElementById('emergency-error').textContent = error.message;
    }
  }
}
