// SPDX-License-Identifier: Apache-2.0
// A short tone when a pump starts calling, off unless the attendant turns it
// on (the choice is kept in this browser). Made by the page: no sound file.
const kKey = 'quorlan.chime';

export class Chime {
  constructor(toggle) {
    this.toggle = toggle;
    toggle.checked = localStorage.getItem(kKey) === 'on';
    toggle.addEventListener('change', () => {
      localStorage.setItem(kKey, toggle.checked ? 'on' : 'off');
      if (toggle.checked) this.ring(); // the click lets the browser play sound
    });
  }

  ring() {
    if (!this.toggle.checked || typeof AudioContext === 'undefined') return;
    this.context ??= new AudioContext();
    const oscillator = this.context.createOscillator();
    const gain = this.context.createGain();
    oscillator.frequency.value = 880;
    gain.gain.setValueAtTime(0.2, this.context.currentTime);
    gain.gain.exponentialRampToValueAtTime(0.001, this.context.currentTime + 0.4);
    oscillator.connect(gain).connect(this.context.destination);
    oscillator.start();
    oscillator.stop(this.context.currentTime + 0.4);
  }
}
