// Requests to the device through the gateway under /cgi-bin/route, and the
// XML documents they carry. Every reply is parsed as XML, never as HTML.

const base = '/cgi-bin/route/';

// A request that the device refused or could not answer.
export class RequestError extends Error {
  constructor(message, status = 0, code = null) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

// Called when the gateway answers 401: the session is gone. A 401 to a
// request sent before the latest login is stale and changes nothing.
let onLoginRequired = () => {};
let session = 0;
export function whenLoginRequired(handler) {
  onLoginRequired = handler;
}
export function sessionStarted() {
  session += 1;
}

const httpMessages = {
  401: 'Please log in again.',
  403: 'The device refused the request.',
  429: 'Too many failed logins: wait 30 seconds and try again.',
  502: 'The device closed the request without an answer.',
  503: 'The device does not answer.',
};

function parseXml(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  if (doc.getElementsByTagName('parsererror').length) return null;
  return doc;
}

// The result envelope's code and message, or null for a service document.
export function envelope(doc) {
  const root = doc && doc.documentElement;
  if (!root || root.nodeName !== 'RESULT') return null;
  return { code: Number(text(root, 'CODE')), message: text(root, 'MESSAGE') };
}

async function send(path, init) {
  const sentIn = session;
  let response;
  try {
    response = await fetch(base + path, { credentials: 'same-origin', cache: 'no-store', ...init });
  } catch (err) {
    throw new RequestError('The device does not answer.', 0);
  }
  const body = await response.text();
  if (response.status === 401 && sentIn === session) onLoginRequired();
  if (!response.ok) {
    const result = envelope(parseXml(body));
    const message = httpMessages[response.status] || (result && result.message) || `HTTP ${response.status}`;
    throw new RequestError(message, response.status, result && result.code);
  }
  const doc = parseXml(body);
  if (!doc) throw new RequestError('The device sent an unreadable answer.', response.status);
  return doc;
}

// GET: the service's document; an envelope with a code other than 0 throws.
export async function get(path) {
  const doc = await send(path, { method: 'GET' });
  const result = envelope(doc);
  if (result && result.code !== 0) throw new RequestError(result.message, 200, result.code);
  return doc;
}

// POST of an XML body: the envelope, which must say code 0.
export async function post(path, body) {
  const doc = await send(path, {
    method: 'POST',
    headers: { 'X-Requested-With': 'XMLHttpRequest', 'Content-Type': 'application/xml' },
    body,
  });
  const result = envelope(doc) || { code: 0, message: 'OK' };
  if (result.code !== 0) throw new RequestError(result.message, 200, result.code);
  return result;
}

// A POST after which the device goes down (reboot, reset, restore, upgrade):
// a missing reply is the expected outcome, a refusal is not.
export async function postAction(path, body) {
  try {
    await post(path, body);
  } catch (err) {
    if (err.status === 502 || err.status === 503 || err.status === 0) return;
    throw err;
  }
}

// Uploads a file with progress (fetch cannot report upload progress).
// Resolves with the name the gateway gave the file in /tmp (<UPLOAD><URL>).
export function upload(kind, file, onProgress) {
  return new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open('POST', base + 'upload/' + kind);
    xhr.setRequestHeader('X-Requested-With', 'XMLHttpRequest');
    xhr.setRequestHeader('Content-Type', 'application/octet-stream');
    xhr.upload.onprogress = (e) => e.lengthComputable && onProgress(e.loaded / e.total);
    xhr.onerror = () => reject(new RequestError('The upload was cut off.', 0));
    xhr.onload = () => {
      const doc = parseXml(xhr.responseText);
      if (xhr.status === 401) onLoginRequired();
      if (xhr.status !== 200 || !doc) {
        const result = envelope(doc);
        reject(new RequestError((result && result.message) || httpMessages[xhr.status] || `HTTP ${xhr.status}`, xhr.status));
        return;
      }
      const result = envelope(doc);
      if (result && result.code !== 0) reject(new RequestError(result.message, 200, result.code));
      else resolve(text(doc, 'URL'));
    };
    xhr.send(file);
  });
}

// ---- reading documents ----

// The text of the first element named `name` under `node`, '' when absent.
export function text(node, name) {
  const found = node && node.getElementsByTagName(name)[0];
  return found ? found.textContent.trim() : '';
}

// The direct children of `node` named `name`.
export function children(node, name) {
  return node ? Array.from(node.children).filter((c) => c.nodeName === name) : [];
}

export function child(node, name) {
  return children(node, name)[0] || null;
}

// The texts of the direct children named `name`.
export function texts(node, name) {
  return children(node, name).map((c) => c.textContent.trim());
}

// ---- writing documents ----

function escapeXml(value) {
  return String(value).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

// Builds XML from a tree: xml('LAN', [['IP', '1.2.3.4'], ['DNS', ['IP', 'x']]]).
// A value is a text, a number, a list of [name, value] pairs, or a DOM element
// (serialised as it is). Pairs whose value is null or undefined are left out.
export function xml(name, value) {
  if (value === null || value === undefined) return '';
  if (value instanceof Element) return new XMLSerializer().serializeToString(value);
  if (Array.isArray(value)) return `<${name}>${value.map(([n, v]) => xml(n, v)).join('')}</${name}>`;
  return `<${name}>${escapeXml(value)}</${name}>`;
}

// Passwords and keys travel as hex of their UTF-8 bytes.
export function hexEncode(value) {
  return Array.from(new TextEncoder().encode(value), (b) => b.toString(16).padStart(2, '0')).join('');
}

export function hexDecode(hex) {
  if (!/^([0-9a-fA-F]{2})*$/.test(hex)) return '';
  const bytes = new Uint8Array(hex.length / 2);
  for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
  return new TextDecoder().decode(bytes);
}

export const ipv4 = /^(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(\.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}$/;
export const macAddress = /^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$/;
