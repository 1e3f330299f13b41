// Firewall: the LAN-to-WAN filter, port forwards and the DMZ host. The
// device takes the whole set in one request, so the form sends all of it.
import { get, post, text, children, child, xml, ipv4 } from '../api.js';
import { el, field, select, form, rowList, readRows } from '../ui.js';

export const title = 'Firewall';

const entryKinds = [['IP', 'Address or range'], ['PORT', 'Port or range'], ['MAC', 'MAC address'], ['URL', 'Text in URL'], ['IPCOM', 'Address + port + protocol']];
const protocols = [['tcp+udp', 'TCP and UDP'], ['tcp', 'TCP'], ['udp', 'UDP']];

export async function load() {
  return { firewall: await get('firewall') };
}

function filterEntries(filter) {
  return Array.from(filter ? filter.children : []).filter((e) => e.nodeName !== 'MODE').map((e) => (
    e.nodeName === 'IPCOM'
      ? { kind: 'IPCOM', value: text(e, 'IP'), port: text(e, 'PORT'), proto: text(e, 'PROTO') }
      : { kind: e.nodeName, value: e.textContent.trim(), port: '', proto: 'tcp+udp' }));
}

function validPort(port) {
  const first = Number((port.match(/^\d+/) || [])[0]);
  return first >= 1 && first <= 65535;
}

export function render({ firewall }, root) {
  const doc = firewall.documentElement;
  const filter = child(doc, 'FILTER');
  const entries = rowList('filter entry', filterEntries(filter), (e) => [
    select('Kind', 'kind', entryKinds, e.kind),
    field('Value', 'value', e.value),
    field('Port (with an address)', 'port', e.port),
    select('Protocol', 'proto', protocols, e.proto),
  ], { kind: 'IP', value: '', port: '', proto: 'tcp+udp' });
  const forwards = rowList('forward', children(doc, 'PORT_FORWARD').map((f) => ({
    src: text(f, 'SRC_PORT'), ip: text(f, 'DEST_IP'), port: text(f, 'DEST_PORT'),
  })), (f) => [field('WAN port', 'src', f.src), field('LAN host', 'ip', f.ip), field('Host port', 'port', f.port)],
  { src: '', ip: '', port: '' });
  const entryBox = el('fieldset', {}, el('legend', {}, 'Filter entries'), entries);
  const forwardBox = el('fieldset', {}, el('legend', {}, 'Port forwards'), forwards);

  root.append(el('h1', {}, 'Firewall'), form('Firewall', [
    select('Filter', 'mode', [['', 'No filter'], ['disable', 'Refuse the listed traffic'], ['allow', 'Allow only the listed traffic']], text(filter, 'MODE')),
    entryBox, forwardBox,
    field('DMZ host (empty: none)', 'dmz', text(child(doc, 'DMZ'), 'IP'), { inputmode: 'decimal' }),
  ], 'Save firewall', async (v) => {
    const filterPairs = readRows(entryBox).filter((r) => r.value).map((r) => {
      if ((r.kind === 'PORT' && !validPort(r.value)) || (r.kind === 'IPCOM' && !validPort(r.port))) {
        throw new Error(`Not a port: ${r.kind === 'PORT' ? r.value : r.port}`);
      }
      if (r.kind === 'URL' && /[\r\n]/.test(r.value)) throw new Error('A URL cannot hold a line break.');
      return r.kind === 'IPCOM' ? ['IPCOM', [['IP', r.value], ['PORT', r.port], ['PROTO', r.proto]]] : [r.kind, r.value];
    });
    const forwardPairs = readRows(forwardBox).filter((r) => r.src || r.ip || r.port).map((r) => {
      if (!validPort(r.src) || !validPort(r.port)) throw new Error('A forward needs ports from 1 to 65535.');
      if (!ipv4.test(r.ip)) throw new Error(`Not an IPv4 address: ${r.ip}`);
      return ['PORT_FORWARD', [['SRC_PORT', r.src], ['DEST_IP', r.ip], ['DEST_PORT', r.port]]];
    });
    if (v.dmz && !ipv4.test(v.dmz)) throw new Error(`Not an IPv4 address: ${v.dmz}`);
    const pairs = [...forwardPairs, ['DMZ', v.dmz ? [['IP', v.dmz]] : null]];
    if (v.mode) pairs.unshift(['FILTER', [['MODE', v.mode], ...filterPairs]]);
    await post('firewall', xml('FIREWALL', pairs));
  }));
}
