// Every call to the station goes through here: the token travels in the
// Authorization header, and a refusal comes back as an ApiError carrying the
// problem's status, title and detail.
import { storedToken } from './session.js';

export class ApiError extends Error {
  constructor(status, title, detail) {
    super(detail || title || `HTTP ${status}`);
    this.status = status;
    this.title = title;
    this.detail = detail;
  }
}

export function authHeaders(token = storedToken()) {
  return { Authorization: `Bearer ${token}` };
}

export async function request(method, path, body, { token, signal } = {}) {
  const headers = authHeaders(token);
  const init = { method, headers, signal, cache: 'no-store' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(`/api/v1${path}`, init);
  } catch (error) {
    if (error.name === 'AbortError') throw error;
    throw new ApiError(0, 'Station unreachable', 'The station does not answer.');
  }
  const text = await response.text();
  let payload = null;
  try {
    payload = text ? JSON.parse(text) : null;
  } catch {
    payload = null;
  }
  if (!response.ok) {
    throw new ApiError(response.status, payload?.title, payload?.detail);
  }
  return payload;
}

export const get = (path, options) => request('GET', path, undefined, options);
export const post = (path, body, options) => request('POST', path, body ?? {}, options);
export const put = (path, body, options) => request('PUT', path, body, options);

// Health needs no token: it tells which lines are up.
export async function health() {
  const response = await fetch('/api/v1/health', { cache: 'no-store' });
  return response.json();
}

// What a role may do, in order.
export const kRoles = ['view', 'operate', 'admin'];

export function allows(role, needed) {
  return kRoles.indexOf(role) >= kRoles.indexOf(needed);
}

// The contract tells no token its role, so the page asks the API with
// requests that cannot change anything: a price book that is not a list, and
// a stop for a dispenser that does not exist. A role allowed to try gets the
// validation's refusal; a role too low gets 403.
export async function probeRole(token) {
  const allowed = async (attempt) => {
    try {
      await attempt();
      return true;
    } catch (error) {
      if (error.status === 403) return false;
      if ([400, 404, 409].includes(error.status)) return true;
      throw error;
    }
  };
  if (await allowed(() => put('/prices', { probe: true }, { token }))) return 'admin';
  if (await allowed(() => post('/dispensers/0/0/stop', {}, { token }))) return 'operate';
  return 'view';
}
