// Clients: the stations associated with each network, and the DHCP leases.
import { get, text, children } from '../api.js';
import { el, table } from '../ui.js';

export const title = 'Clients';

export async function load() {
  const [assoc, leases] = await Promise.all([get('wireless/associate'), get('dhcp/clients')]);
  return { assoc, leases };
}

export function render({ assoc, leases }, root) {
  const stations = children(assoc.documentElement, 'VAP').flatMap((vap) =>
    children(vap, 'CLIENT').map((c) => [
      text(c, 'SSID'), text(c, 'MAC'), text(c, 'IP') || '–', text(c, 'SIGNAL'),
      text(c, 'RX_RATE'), text(c, 'TX_RATE'), `${(Number(text(c, 'ASS_TIME')) / 1000).toFixed(1)} s`,
    ]));
  const leaseRows = children(leases.documentElement, 'CLIENTS').map((c) => [
    text(c, 'HOSTNAME') || '–', text(c, 'MAC'), text(c, 'IP'), text(c, 'TIME'),
  ]);
  root.append(el('h1', {}, 'Clients'),
    el('section', { class: 'card' },
      table(`Wireless clients (${stations.length})`,
        ['Network', 'MAC', 'Address', 'Signal', 'Receive rate', 'Send rate', 'Last heard'], stations)),
    el('section', { class: 'card' },
      table(`DHCP leases (${leaseRows.length})`, ['Host name', 'MAC', 'Address', 'Expires'], leaseRows)));
}
