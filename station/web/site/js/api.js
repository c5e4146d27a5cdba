// Every call to the station goes through here: the token travels in the
// Authorization header, and a refusal comes back as an ApiError carrying the
// problem's status, title and detail.
import { storedToken } from './session.js';
import { kText } from './strings.js';
import { localizeStamps } from './format.js';

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

// The token's name and role, as the station tells them. A station of an
// older kind has no such route (404): the role is then not told (null) and
// the page learns it from the first write's answer, never from a probe.
export async function readSession(token) {
  try {
    return await get('/session', { token });
  } catch (error) {
    if (error.status === 404) return { role: null };
    throw error;
  }
}

// A refusal in words a person understands, with what to do next.
export function describe(error) {
  const detail = localizeStamps(error.detail ?? '');
  switch (error.status) {
    case 0: return kText.unreachable;
    case 400: return kText.badInput(detail);
    case 401: return kText.tokenRefused;
    case 403: return kText.forbidden;
    case 404: return kText.notFound;
    case 409: return kText.refused(detail);
    case 413: return kText.tooLarge;
    case 422: return kText.keyReused;
    case 502: return kText.noReply(detail);
    case 503: return kText.lineIsDown;
    default: return kText.unexpected(error.status);
  }
}
