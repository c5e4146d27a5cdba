// Runs `quorlan serve` on simulated lines for the browser tests: a TOML
// configuration with one token per role, a free port and a database in a
// temporary folder, started and stopped like a real station.
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

async function waitFor(what, condition, timeoutMs = 30000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    if (await condition()) return;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

export class Station {
  constructor(binary, dispensers) {
    this.binary = binary;
    this.folder = mkdtempSync(path.join(os.tmpdir(), 'quorlan-web-'));
    this.dispensers = dispensers;
  }

  async configure() {
    this.port = await freePort();
    this.url = `http://127.0.0.1:${this.port}/`;
    const tokens = Object.entries(kTokens).map(
      ([role, secret]) => `[[token]]\nname = "${role}-desk"\nsecret = "${secret}"\nrole = "${role}"\n`,
    );
    this.config = path.join(this.folder, 'station.toml');
    writeFileSync(
      this.config,
      [
        `listen = "127.0.0.1:${this.port}"`,
        `database = "${path.join(this.folder, 'station.db')}"`,
        `driver_log = "${path.join(this.folder, 'driver.log')}"`,
        '',
        '[[line]]',
        'channel = 1',
        'port = "sim"',
        `dispensers = [${this.dispensers.join(', ')}]`,
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

export { waitFor };
