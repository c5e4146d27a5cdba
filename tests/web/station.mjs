// Runs `quorlan serve` for the browser tests: a TOML configuration with one
// token per role, a free port and a database in a temporary folder, started
// and stopped like a real station. The line is the built-in simulator, or a
// serial port such as the pseudo-terminal of a `quorlan sim` (SimulatorPort).
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const kTokens = {
  admin: 'admin-secret-for-the-browser-test',
  operate: 'operate-secret-for-the-browser-test',
  view: 'view-secret-for-the-browser-test',
};
// A second till, which takes sales the page's till then meets held.
export const kOtherTill = { name: 'pos-2', secret: 'pos-2-secret-for-the-browser-test', role: 'operate' };

async function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitFor(what, condition, timeoutMs = 60000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    if (await condition()) return;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

export class Station {
  // nozzles: those of each dispenser, when not the configuration's default.
  constructor(binary, dispensers, port = 'sim', nozzles = null) {
    this.binary = binary;
    this.folder = mkdtempSync(path.join(os.tmpdir(), 'quorlan-web-'));
    this.dispensers = dispensers;
    this.port = port;
    this.nozzles = nozzles;
  }

  async configure() {
    const listen = await freePort();
    this.url = `http://127.0.0.1:${listen}/`;
    const tills = [...Object.entries(kTokens).map(([role, secret]) => ({ name: `${role}-desk`, secret, role })), kOtherTill];
    const tokens = tills.map(({ name, secret, role }) => `[[token]]\nname = "${name}"\nsecret = "${secret}"\nrole = "${role}"\n`);
    this.config = path.join(this.folder, 'station.toml');
    writeFileSync(
      this.config,
      [
        `listen = "127.0.0.1:${listen}"`,
        `database = "${path.join(this.folder, 'station.db')}"`,
        `driver_log = "${path.join(this.folder, 'driver.log')}"`,
        '',
        '[[line]]',
        'channel = 1',
        `port = "${this.port}"`,
        `dispensers = [${this.dispensers.join(', ')}]`,
        ...(this.nozzles ? [`nozzles = [${this.nozzles.join(', ')}]`] : []),
        '',
        ...tokens,
      ].join('\n'),
    );
  }

  async healthy() {
    try {
      const response = await fetch(`${this.url}api/v1/health`);
      return response.ok;
    } catch {
      return false;
    }
  }

  async start() {
    if (!this.config) await this.configure();
    this.output = '';
    this.process = spawn(this.binary, ['serve', '--config', this.config], { stdio: ['ignore', 'pipe', 'pipe'] });
    const exited = new Promise((resolve) => this.process.once('exit', (code, signal) => resolve({ code, signal })));
    this.exited = exited;
    for (const stream of [this.process.stdout, this.process.stderr]) stream.on('data', (chunk) => (this.output += chunk));
    let gone = null;
    exited.then((status) => (gone = status));
    await waitFor('the station to answer', async () => {
      if (gone) throw new Error(`quorlan serve ended (${JSON.stringify(gone)}):\n${this.output}`);
      return this.healthy();
    });
  }

  // SIGTERM, as a service manager stops it; it must end cleanly.
  async stop() {
    if (!this.process) return null;
    this.process.kill('SIGTERM');
    const status = await this.exited;
    this.process = null;
    return status;
  }

  async dispose() {
    if (this.process) {
      this.process.kill('SIGKILL');
      await this.exited;
    }
    rmSync(this.folder, { recursive: true, force: true });
  }
}

// `quorlan sim` serving a line of dispensers on a pseudo-terminal; ending it
// takes the line away from the station.
export class SimulatorPort {
  constructor(binary, dispensers) {
    this.binary = binary;
    this.dispensers = dispensers;
  }

  async start() {
    this.process = spawn(this.binary, ['sim', '--dispensers', String(this.dispensers), '--auto'], {
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    this.exited = new Promise((resolve) => this.process.once('exit', resolve));
    let output = '';
    this.process.stdout.on('data', (chunk) => (output += chunk));
    await waitFor('the simulator to name its terminal', () => /^\/dev\/\S+\n/.test(output));
    this.path = output.split('\n')[0];
    return this.path;
  }

  async stop() {
    if (!this.process) return;
    this.process.kill('SIGTERM');
    await this.exited;
    this.process = null;
  }
}

export { waitFor };
