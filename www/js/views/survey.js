// Site survey: the networks the radios hear, in a table sorted by any
// column, and how busy each channel is, drawn from the device's analysis.
import { get, text, children } from '../api.js';
import { el, svg, select, progress, say, card } from '../ui.js';

export const title = 'Site survey';

const columns = [
  ['SSID', 'Network', 'text'], ['BSSID', 'BSSID', 'text'], ['BAND', 'Band', 'text'],
  ['CHANNEL', 'Channel', 'number'], ['SIGNAL', 'Signal', 'number'], ['ENCRYPTION', 'Security', 'text'],
];

export async function load() {
  return null;
}

function apRows(scan) {
  return children(scan.documentElement, 'AP').map((ap) => Object.fromEntries(columns.map(([tag]) => [tag, text(ap, tag)])));
}

function sortedTable(rows) {
  let key = 'SIGNAL';
  let descending = true;
  const body = el('tbody');
  const head = el('tr');
  const fill = () => {
    const kind = columns.find(([tag]) => tag === key)[2];
    const value = (row) => (kind === 'number' ? parseFloat(row[key]) || -999 : row[key].toLowerCase());
    const sorted = rows.slice().sort((a, b) => (value(a) < value(b) ? -1 : value(a) > value(b) ? 1 : 0) * (descending ? -1 : 1));
    body.replaceChildren(...sorted.map((row) => el('tr', {}, columns.map(([tag]) => el('td', {}, row[tag])))));
    head.replaceChildren(...columns.map(([tag, label]) => el('th', {
      scope: 'col', 'aria-sort': tag === key ? (descending ? 'descending' : 'ascending') : 'none',
    }, el('button', { type: 'button', class: 'sort', onclick: () => {
      descending = tag === key ? !descending : false;
      key = tag;
      fill();
    } }, label))));
  };
  fill();
  return el('div', { class: 'scroll' }, el('table', { id: 'survey-table' },
    el('caption', {}, `Networks heard (${rows.length}); choose a column title to sort`), el('thead', {}, head), body));
}

// One bar per channel: its height is the number of networks on it, its
// shade the strongest signal heard there.
function occupancyChart(analysis) {
  const channels = children(analysis.documentElement, 'chnel').map((c) => c.textContent.trim());
  const data = children(analysis.documentElement, 'data');
  const perChannel = new Map(channels.map((c) => [c, []]));
  for (const d of data) {
    const channel = d.getAttribute('channel');
    if (!perChannel.has(channel)) perChannel.set(channel, []);
    perChannel.get(channel).push({ name: d.getAttribute('name'), signal: Number(d.getAttribute('value')) });
  }
  const entries = Array.from(perChannel);
  const most = Math.max(1, ...entries.map(([, aps]) => aps.length));
  const slot = 24;
  const height = 120;
  const bars = entries.map(([channel, aps], i) => {
    const strongest = Math.max(-100, ...aps.map((a) => a.signal));
    const h = (aps.length / most) * (height - 30);
    const strength = Math.min(1, Math.max(0.2, (strongest + 100) / 60));
    const label = `Channel ${channel}: ${aps.length} network${aps.length === 1 ? '' : 's'}` +
      (aps.length ? ` (${aps.map((a) => `${a.name} ${a.signal} dBm`).join(', ')})` : '');
    return svg('g', {},
      svg('title', {}, label),
      svg('rect', { x: i * slot + 3, y: height - 18 - h, width: slot - 6, height: h, class: 'bar', 'fill-opacity': strength.toFixed(2) }),
      aps.length ? svg('text', { x: i * slot + slot / 2, y: height - 22 - h, class: 'count' }, aps.length) : null,
      svg('text', { x: i * slot + slot / 2, y: height - 4, class: 'axis' }, channel));
  });
  return svg('svg', { viewBox: `0 0 ${Math.max(entries.length * slot, 480)} ${height}`, class: 'chart', role: 'img', 'aria-label': 'Networks per channel' }, bars);
}

export function render(data, root) {
  const bandSelect = select('Band', 'band', [['2g', '2.4 GHz'], ['5g', '5 GHz']], '2g');
  const button = el('button', { type: 'button' }, 'Start survey');
  const message = el('p', { class: 'message', role: 'status' });
  const waiting = progress('Survey in progress');
  const results = el('div', { id: 'survey-results' });
  button.addEventListener('click', async () => {
    const band = bandSelect.querySelector('select').value;
    button.disabled = true;
    say(message, 'Surveying: this takes up to 15 seconds.');
    waiting.run(15, 'Listening…');
    try {
      const scan = await get(`wireless/scan/${band}`);
      // The analysis of the survey just made, without scanning again.
      const analysis = await get(`wireless/analysis/${band}/again`);
      const rows = apRows(scan);
      results.replaceChildren(
        card('Channel occupancy', occupancyChart(analysis)),
        el('section', { class: 'card' }, sortedTable(rows)));
      say(message, `${rows.length} networks heard.`);
    } catch (err) {
      say(message, err.message, true);
    } finally {
      waiting.stop();
      button.disabled = false;
    }
  });
  root.append(el('h1', {}, 'Site survey'),
    el('section', { class: 'card' }, el('div', { class: 'inline' }, bandSelect, button), waiting.node, message),
    results);
}
