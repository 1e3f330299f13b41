// Status: the device, its network links, clients per radio and a live graph
// of throughput per interface, refreshed every few seconds.
import { get, text, children, child } from '../api.js';
import { el, svg, card, facts, formatBytesPerSecond, formatDuration, modeNames } from '../ui.js';

export const title = 'Status';

const refreshSeconds = 3;
const samplesKept = 20;
const colours = ['#1b6ec2', '#c2410c', '#15803d', '#7e22ce'];

let timer = null;
let lastCpu = null;
let lastTraffic = null; // {time, counters: Map name -> {rx, tx}}
const history = new Map(); // interface name -> [{rx, tx}] bytes per second

// Optional documents: a device without a WAN protocol closes the request.
const optional = (promise) => promise.catch((err) => (err.status === 401 ? Promise.reject(err) : null));

export async function load() {
  const [basic, lan, wan, assoc, traffic] = await Promise.all([
    get('system/basic'), get('network/lan'), optional(get('network/wan')),
    optional(get('wireless/associate')), get('system/traffic'),
  ]);
  return { basic, lan, wan, assoc, traffic, time: performance.now() };
}

function cpuUsage(basic) {
  const cpu = child(basic.documentElement, 'CPU_INFO');
  if (!cpu) return '';
  const counters = Array.from(cpu.children, (c) => Number(c.textContent));
  const total = counters.reduce((a, b) => a + b, 0);
  const idle = Number(text(cpu, 'IDLE')) + Number(text(cpu, 'IOWAIT'));
  const previous = lastCpu || { total: 0, idle: 0 };
  lastCpu = { total, idle };
  const spent = total - previous.total;
  return spent > 0 ? `${Math.round((100 * (spent - (idle - previous.idle))) / spent)} %` : '–';
}

function memoryUse(basic) {
  const kb = (name) => Number(text(basic, name));
  const total = kb('TOTAL');
  if (!total) return '';
  const used = total - kb('FREE') - kb('CACHED') - kb('BUFFER');
  return `${Math.round(used / 1024)} of ${Math.round(total / 1024)} MB in use`;
}

function deviceCard({ basic }) {
  return card('Device', facts([
    ['Name', text(basic, 'NAME')],
    ['Model', text(basic, 'MODEL') || '–'],
    ['Firmware', text(basic, 'VERSION')],
    ['Uptime', formatDuration(Number(text(basic, 'UPTIME')))],
    ['Operating mode', modeNames[text(basic, 'SYS_MODE')] || text(basic, 'SYS_MODE')],
    ['CPU', cpuUsage(basic)],
    ['Memory', memoryUse(basic)],
  ]));
}

function networkCard({ lan, wan }) {
  const ports = children(child(lan.documentElement, 'SWITCH'), 'PORT').map((port) => {
    const up = text(port, 'STATUS') === 'up';
    return el('li', { class: up ? 'port up' : 'port' }, `Port ${text(port, 'NUM')}: ${up ? 'up' : 'down'}`);
  });
  const wanFacts = wan
    ? [['WAN', `${text(wan, 'TYPE')} ${text(wan, 'IP')}`.trim() || 'no address'],
       ['WAN gateway', text(wan, 'GATEWAY')]]
    : [['WAN', 'not configured']];
  return card('Network', facts([
    ['LAN', `${text(lan, 'IP')} / ${text(lan, 'NETMASK')}`],
    ['LAN MAC', text(lan, 'MAC')],
    ...wanFacts,
    ['Uplink', text(lan, 'UPLINK') === '1' ? 'connected' : 'not connected'],
  ]), el('ul', { class: 'ports', 'aria-label': 'Ethernet ports' }, ports));
}

function clientsCard({ assoc }) {
  const perRadio = { '2.4 GHz': 0, '5 GHz': 0 };
  for (const vap of children(assoc && assoc.documentElement, 'VAP')) {
    const radio = text(vap, 'VAP_ID').startsWith('1') ? '5 GHz' : '2.4 GHz';
    perRadio[radio] += Number(text(vap, 'VCLIENTS_NUM')) || 0;
  }
  return card('Wireless clients', facts(Object.entries(perRadio).map(([radio, n]) => [radio, String(n)])));
}

// Adds one sample per interface: bytes per second since the last refresh.
// The counters are 32 bits and wrap.
function sampleTraffic({ traffic, time }) {
  const counters = new Map();
  for (const iface of children(child(traffic.documentElement, 'TRAFFIC'), 'INTERFACE')) {
    counters.set(text(iface, 'NAME'), { rx: Number(text(iface, 'RECV_BYTES')), tx: Number(text(iface, 'SEND_BYTES')) });
  }
  if (lastTraffic) {
    const seconds = (time - lastTraffic.time) / 1000;
    for (const [name, now] of counters) {
      const before = lastTraffic.counters.get(name);
      if (!before || seconds <= 0) continue;
      const rate = (a, b) => ((b - a + 2 ** 32) % 2 ** 32) / seconds;
      const samples = history.get(name) || [];
      samples.push({ rx: rate(before.rx, now.rx), tx: rate(before.tx, now.tx) });
      if (samples.length > samplesKept) samples.shift();
      history.set(name, samples);
    }
  }
  lastTraffic = { time, counters };
}

function graphedInterfaces({ lan, wan, traffic }) {
  const names = [text(lan, 'IFNAME') || 'br-lan', wan && text(wan, 'IFNAME'), 'ath0', 'ath1'];
  const present = new Set(children(child(traffic.documentElement, 'TRAFFIC'), 'INTERFACE').map((i) => text(i, 'NAME')));
  return names.filter((name, i) => name && present.has(name) && names.indexOf(name) === i);
}

function throughputCard(data) {
  const names = graphedInterfaces(data);
  const width = 600;
  const height = 120;
  const peak = Math.max(1, ...names.flatMap((n) => (history.get(n) || []).map((s) => s.rx + s.tx)));
  const lines = names.map((name, i) => {
    const samples = history.get(name) || [];
    const points = samples.map((s, k) => {
      const x = (width * (samplesKept - samples.length + k)) / (samplesKept - 1);
      const y = height - ((s.rx + s.tx) / peak) * (height - 4);
      return `${x.toFixed(1)},${y.toFixed(1)}`;
    });
    return svg('polyline', { points: points.join(' '), fill: 'none', stroke: colours[i], 'stroke-width': 2 });
  });
  const legend = names.map((name, i) => {
    const last = (history.get(name) || []).slice(-1)[0];
    const now = last ? `in ${formatBytesPerSecond(last.rx)}, out ${formatBytesPerSecond(last.tx)}` : 'measuring…';
    return el('li', {}, el('span', { class: `swatch c${i}` }), `${name}: ${now}`);
  });
  const graph = svg('svg', { viewBox: `0 0 ${width} ${height}`, class: 'graph', role: 'img', 'aria-label': 'Throughput per interface' },
    svg('title', {}, `Throughput per interface, peak ${formatBytesPerSecond(peak)}`),
    svg('rect', { x: 0, y: 0, width, height, class: 'plot' }), lines);
  const node = card('Throughput', graph, el('ul', { class: 'legend' }, legend), el('p', { class: 'note' }, `Scale: ${formatBytesPerSecond(peak)}`));
  node.classList.add('wide');
  return node;
}

function draw(data, root) {
  sampleTraffic(data);
  root.replaceChildren(el('h1', {}, 'Status'), el('div', { class: 'grid' },
    deviceCard(data), networkCard(data), clientsCard(data), throughputCard(data)));
  const name = document.getElementById('device-name');
  name.textContent = text(data.basic, 'SYSDEVNAME') || text(data.basic, 'NAME') || 'Access point';
}

export function render(data, root) {
  draw(data, root);
  performance.mark('status-ready');
  timer = setInterval(async () => {
    try {
      const next = await load();
      if (timer) draw(next, root);
    } catch (err) {
      // A refresh that fails leaves the last figures; a lost session has
      // already sent the user to the login.
    }
  }, refreshSeconds * 1000);
}

export function leave() {
  clearInterval(timer);
  timer = null;
}
