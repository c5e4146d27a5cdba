// The token lives in this tab's session storage only. A token given in the
// address's fragment is taken and the fragment cleared, so it is neither
// bookmarked nor shown over a shoulder; fragments never reach the server.
const kKey = 'quorlan.token';

export function takeTokenFromAddress() {
  const fragment = new URLSearchParams(location.hash.slice(1));
  const token = fragment.get('token');
  if (!token) return null;
  history.replaceState(null, '', location.pathname + location.search);
  return token;
}

export function storedToken() {
  return sessionStorage.getItem(kKey);
}

export function storeToken(token) {
  sessionStorage.setItem(kKey, token);
}

export function forgetToken() {
  sessionStorage.removeItem(kKey);
}
