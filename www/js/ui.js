// Building the page: elements, labelled form controls, messages and progress.
// Texts always become text nodes; nothing here parses HTML.

// el('p', {class: 'x'}, 'text', otherNode): attributes, then children.
// Strings and numbers become text nodes; null and false are skipped.
export function el(tag, attrs = {}, ...kids) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value === null || value === undefined || value === false) continue;
    if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node && typeof value !== 'string') node[key] = value;
    else node.setAttribute(key, value === true ? '' : value);
  }
  append(node, kids);
  return node;
}

export function append(node, kids) {
  for (const kid of kids.flat(Infinity)) {
    if (kid === null || kid === undefined || kid === false) continue;
    node.append(kid instanceof Node ? kid : document.createTextNode(String(kid)));
  }
  return node;
}

const svgNs = 'http://www.w3.org/2000/svg';
export function svg(tag, attrs = {}, ...kids) {
  const node = document.createElementNS(svgNs, tag);
  for (const [key, value] of Object.entries(attrs)) node.setAttribute(key, value);
  return append(node, kids);
}

let nextId = 0;
function controlId(name) {
  nextId += 1;
  return `f-${name}-${nextId}`;
}

// A labelled input; extra attributes go to the input.
export function field(label, name, value = '', attrs = {}) {
  const id = controlId(name);
  const input = el('input', { id, name, type: 'text', value, ...attrs });
  return el('div', { class: 'field' }, el('label', { for: id }, label), input);
}

export function checkbox(label, name, checked) {
  const id = controlId(name);
  return el('div', { class: 'field check' },
    el('input', { id, name, type: 'checkbox', checked: Boolean(checked) }),
    el('label', { for: id }, label));
}

// options: [[value, label], ...]; a current value not among them is added.
export function select(label, name, options, value, attrs = {}) {
  const id = controlId(name);
  const list = options.slice();
  if (value !== undefined && value !== '' && !list.some(([v]) => v === value)) list.push([value, value]);
  const control = el('select', { id, name, ...attrs },
    list.map(([v, text]) => el('option', { value: v, selected: v === value }, text)));
  return el('div', { class: 'field' }, el('label', { for: id }, label), control);
}

export function textarea(label, name, value = '', attrs = {}) {
  const id = controlId(name);
  const area = el('textarea', { id, name, rows: 4, ...attrs });
  area.value = value;
  return el('div', { class: 'field' }, el('label', { for: id }, label), area);
}

// The values of a form's named controls: text for inputs, a boolean for
// checkboxes. Controls inside `rows` groups are read by readRows instead.
export function values(form) {
  const out = {};
  for (const control of form.elements) {
    if (!control.name || control.closest('[data-row]')) continue;
    out[control.name] = control.type === 'checkbox' ? control.checked : control.value.trim();
  }
  return out;
}

// Repeated rows (static leases, forwards, ...): each row is a fieldset-like
// group whose controls are read into one object.
export function readRows(container) {
  return Array.from(container.querySelectorAll('[data-row]')).map((row) => {
    const out = {};
    for (const control of row.querySelectorAll('input, select')) {
      out[control.name] = control.type === 'checkbox' ? control.checked : control.value.trim();
    }
    return out;
  });
}

// A list of editable rows with add and remove buttons. makeRow(item) returns
// the controls of one row.
export function rowList(title, items, makeRow, blank) {
  const list = el('div', { class: 'rows' });
  const addRow = (item) => {
    const row = el('div', { class: 'row', 'data-row': '' }, makeRow(item));
    row.append(el('button', { type: 'button', class: 'small', onclick: () => row.remove(), 'aria-label': `Remove this ${title}` }, 'Remove'));
    list.append(row);
  };
  items.forEach(addRow);
  const add = el('button', { type: 'button', class: 'small', onclick: () => addRow(blank) }, `Add ${title}`);
  return el('div', {}, list, add);
}

// A form whose submit runs `action(values, form)` with the button busy and
// the outcome shown in the form's own message line.
export function form(title, body, submitLabel, action) {
  const message = el('p', { class: 'message', role: 'status' });
  const button = el('button', { type: 'submit' }, submitLabel);
  const node = el('form', { class: 'card', 'aria-label': title }, el('h2', {}, title), body, el('div', { class: 'actions' }, button), message);
  node.addEventListener('submit', (event) => {
    event.preventDefault();
    run(button, message, () => action(values(node), node));
  });
  return node;
}

// Runs an action with its button disabled; shows "Saved" or the error.
export async function run(button, message, action) {
  button.disabled = true;
  say(message, 'Working…');
  try {
    const done = await action();
    say(message, typeof done === 'string' ? done : 'Saved.');
  } catch (err) {
    say(message, err.message, true);
  } finally {
    button.disabled = false;
  }
}

export function say(node, text, isError = false) {
  node.textContent = text;
  node.classList.toggle('error', isError);
}

export function card(title, ...kids) {
  return el('section', { class: 'card' }, el('h2', {}, title), kids);
}

// A table from column titles and rows of cells (texts or nodes).
export function table(caption, columns, rows, empty = 'None.') {
  if (!rows.length) return el('p', { class: 'empty' }, `${caption}: ${empty}`);
  return el('div', { class: 'scroll' }, el('table', {},
    el('caption', {}, caption),
    el('thead', {}, el('tr', {}, columns.map((c) => el('th', { scope: 'col' }, c)))),
    el('tbody', {}, rows.map((cells) => el('tr', {}, cells.map((c) => el('td', {}, c)))))));
}

// Definition list of label/value pairs.
export function facts(pairs) {
  return el('dl', { class: 'facts' }, pairs.map(([k, v]) => [el('dt', {}, k), el('dd', {}, v)]));
}

// A progress bar that either follows a fraction or runs over `seconds`.
export function progress(label) {
  const bar = el('progress', { max: 100, value: 0, 'aria-label': label });
  const note = el('span', { class: 'note' });
  const node = el('div', { class: 'progress', hidden: true }, bar, note);
  let timer = null;
  return {
    node,
    set(fraction, text = '') {
      node.hidden = false;
      bar.value = Math.round(fraction * 100);
      note.textContent = text;
    },
    // Fills over `seconds` while a request runs; stop() hides it again.
    run(seconds, text) {
      const start = performance.now();
      this.set(0, text);
      timer = setInterval(() => {
        const elapsed = (performance.now() - start) / 1000;
        this.set(Math.min(elapsed / seconds, 0.99), `${text} ${Math.floor(elapsed)} s`);
      }, 250);
    },
    stop() {
      clearInterval(timer);
      node.hidden = true;
    },
  };
}

export function formatBytesPerSecond(bytes) {
  const bits = bytes * 8;
  if (bits >= 1e6) return `${(bits / 1e6).toFixed(1)} Mbit/s`;
  if (bits >= 1e3) return `${(bits / 1e3).toFixed(1)} kbit/s`;
  return `${Math.round(bits)} bit/s`;
}

export function formatDuration(seconds) {
  const s = Math.floor(seconds);
  const d = Math.floor(s / 86400);
  const h = Math.floor((s % 86400) / 3600);
  const m = Math.floor((s % 3600) / 60);
  return (d ? `${d} d ` : '') + `${h} h ${m} min`;
}

export const modeNames = {
  1: 'Router',
  2: 'Bridge, wireless WAN',
  3: 'Bridge, static address',
  4: 'Bridge, address by DHCP',
  5: 'Bridge, address by DHCP, WDS',
};
