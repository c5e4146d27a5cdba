// The operator's commands: authorize (grade, then a limit), stop, and the
// station-wide emergency stop behind a confirmation.
import { get, post, describe } from './api.js';
import { el, money, gradeName, dispenserName } from './format.js';
import { kHighestLimit, kLastGrade, kLowestLimit } from './limits.js';
import { kText } from './strings.js';

const kGrades = Array.from({ length: kLastGrade }, (_, index) => index + 1);

const validLimit = (value) =>
  value >= kLowestLimit && value <= kHighestLimit && Math.round(value * 100) === value * 100;

function closeButtons(dialog) {
  for (const button of dialog.querySelectorAll('[data-close]')) {
    button.addEventListener('click', () => dialog.close());
  }
}

// Why an authorization was refused (409). The pump is read again: idle or
// calling with unpaid sales, it is the unpaid stack, and the attendant is
// sent to take a payment, not to wait for the pump.
async function refusedAuthorize(dispenser, error) {
  try {
    const now = await get(`/dispensers/${dispenser.channel}/${dispenser.dispenser}`);
    if (['idle', 'calling'].includes(now.state) && now.unpaid > 0) {
      return kText.unpaidStack(dispenserName(now.channel, now.dispenser), now.unpaid);
    }
  } catch {
    // The station's own words follow.
  }
  return describe(error);
}

export class Actions {
  // notify(message, isError) shows a short message under the header.
  // onAnswer(error or null) lets the page learn the role from a write's answer.
  constructor(forecourt, notify, onAnswer = () => {}) {
    this.forecourt = forecourt;
    this.notify = notify;
    this.onAnswer = onAnswer;
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
      // Offline, the stop is still sent: it may get through, and the
      // attendant is told where else to stop the pumps.
      const warning = document.getElementById('emergency-offline');
      warning.textContent = kText.emergencyOfflineWarning;
      warning.hidden = this.forecourt.live;
      this.emergency.showModal();
    });
  }

  authorize(dispenser) {
    this.target = dispenser;
    document.getElementById('authorize-title').textContent = kText.authorizeName(dispenserName(dispenser.channel, dispenser.dispenser));
    const prices = this.forecourt.pricesOf(dispenser);
    const offered = kGrades.filter((grade) => prices.has(grade));
    this.grades.replaceChildren(
      ...offered.map((grade, index) =>
        el(
          'label',
          {},
          el('input', { type: 'radio', name: 'grade', value: grade, checked: index === 0, required: true }),
          `${gradeName(grade)} · ${money(prices.get(grade))}`,
        ),
      ),
    );
    if (offered.length === 0) this.grades.append(el('p', { class: 'error', text: kText.noPricesSet }));
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
      this.error.textContent = kText.chooseGrade;
      return;
    }
    const body = { grade };
    const kind = this.form.elements.limit.value;
    if (kind !== 'none') {
      const value = Number(this.limit.value);
      if (!validLimit(value)) {
        this.error.textContent = kText.limitRange;
        return;
      }
      body[kind] = value;
    }
    const { channel, dispenser } = this.target;
    const submit = this.form.querySelector('button[type=submit]');
    submit.disabled = true;
    try {
      const answer = await post(`/dispensers/${channel}/${dispenser}/authorize`, body);
      this.onAnswer(null);
      if (answer?.channel) this.forecourt.update(answer);
      this.dialog.close();
    } catch (error) {
      this.onAnswer(error);
      this.error.textContent = error.status === 409 ? await refusedAuthorize(this.target, error) : describe(error);
    } finally {
      submit.disabled = false;
    }
  }

  // From a calling tile: the lifted nozzle's grade, and a prepay amount
  // when one is typed.
  async quickAuthorize(dispenser, grade, amountText, tile) {
    const name = dispenserName(dispenser.channel, dispenser.dispenser);
    const body = { grade };
    if (amountText !== '') {
      const value = Number(amountText);
      if (!validLimit(value)) {
        this.notify(`${name}: ${kText.limitRange}`, true);
        return;
      }
      body.amount = value;
    }
    tile.quickGo.disabled = true;
    try {
      const answer = await post(`/dispensers/${dispenser.channel}/${dispenser.dispenser}/authorize`, body);
      this.onAnswer(null);
      tile.quickLimit.value = '';
      if (answer?.channel) this.forecourt.update(answer);
    } catch (error) {
      this.onAnswer(error);
      this.notify(`${name}: ${error.status === 409 ? await refusedAuthorize(dispenser, error) : describe(error)}`, true);
    } finally {
      tile.quickGo.disabled = false;
    }
  }

  async stop(dispenser, button) {
    const name = dispenserName(dispenser.channel, dispenser.dispenser);
    button.disabled = true;
    try {
      const answer = await post(`/dispensers/${dispenser.channel}/${dispenser.dispenser}/stop`);
      this.onAnswer(null);
      if (answer?.channel) this.forecourt.update(answer);
      this.notify(kText.stopped(name));
    } catch (error) {
      this.onAnswer(error);
      this.notify(kText.notStopped(name, describe(error)), true);
    } finally {
      button.disabled = false;
    }
  }

  async submitEmergency() {
    try {
      const answer = await post('/stop');
      this.onAnswer(null);
      this.emergency.close();
      // Each dispenser answers "stopped" or why it did not.
      const failures = (answer?.dispensers ?? []).filter((entry) => entry.result !== 'stopped');
      if (failures.length === 0) {
        this.notify(kText.allStopped);
      } else {
        const names = failures.map((entry) =>
          entry.dispenser ? `${dispenserName(entry.channel, entry.dispenser)}: ${entry.result}` : `Line ${entry.channel}: ${entry.result}`,
        );
        this.notify(kText.notAllStopped(names.join('; ')), true);
      }
    } catch (error) {
      this.onAnswer(error);
      document.getElementById('emergency-error').textContent =
        error.status === 0 ? kText.emergencyNotReached : describe(error);
    }
  }
}
