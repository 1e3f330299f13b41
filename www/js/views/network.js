// Network: the LAN address, the DHCP server (pool, lease time, static
// leases) and the WAN connection, whose protocol "Detect" asks the device to
// find out.
import { get, post, text, texts, children, child, xml, ipv4, macAddress } from '../api.js';
import { el, field, checkbox, select, form, rowList, readRows, progress, say } from '../ui.js';

export const title = 'Network';

export async function load() {
  const [lan, dhcp, wan] = await Promise.all([
    get('network/lan'), get('dhcp/config'),
    get('network/wan').catch((err) => (err.status === 401 ? Promise.reject(err) : null)),
  ]);
  return { lan, dhcp, wan };
}

function requireAddress(value, what) {
  if (!ipv4.test(value)) throw new Error(`${what} is not an IPv4 address.`);
  return value;
}

function lanForm({ lan }) {
  return form('LAN', [
    field('Address', 'ip', text(lan, 'IP'), { required: true, inputmode: 'decimal' }),
    field('Netmask', 'netmask', text(lan, 'NETMASK'), { required: true, inputmode: 'decimal' }),
    el('p', { class: 'note' }, 'After a new address, open this page at that address.'),
  ], 'Save LAN', async (v) => {
    requireAddress(v.ip, 'The address');
    requireAddress(v.netmask, 'The netmask');
    await post('network/lan', xml('NETWORK', [['PROTO', [['IP', v.ip], ['NETMASK', v.netmask]]]]));
  });
}

function dhcpForm({ dhcp }) {
  const pool = child(dhcp.documentElement, 'ADDRPOOL');
  const leases = children(dhcp.documentElement, 'STATIC').map((s) => ({ mac: text(s, 'MAC'), ip: text(s, 'IP') }));
  const rows = rowList('static lease', leases, (lease) => [
    field('MAC', 'mac', lease.mac), field('Address', 'ip', lease.ip)], { mac: '', ip: '' });
  return form('DHCP server', [
    checkbox('Server on', 'on', text(dhcp, 'DISABLE') !== '1'),
    field('Pool start', 'start', text(pool, 'START'), { inputmode: 'decimal' }),
    field('Pool end', 'end', text(pool, 'END'), { inputmode: 'decimal' }),
    field('Lease time (hours)', 'hours', text(dhcp, 'LEASETIME'), { type: 'number', min: 1, max: 8760 }),
    el('fieldset', {}, el('legend', {}, 'Static leases'), rows),
  ], 'Save DHCP', async (v, node) => {
    const statics = readRows(node).filter((r) => r.mac || r.ip).map((r) => {
      if (!macAddress.test(r.mac)) throw new Error(`Not a MAC address: ${r.mac}`);
      return ['STATIC', [['MAC', r.mac], ['IP', requireAddress(r.ip, r.ip || 'A static lease')]]];
    });
    await post('dhcp', xml('DHCP', [
      ['DISABLE', v.on ? '0' : '1'], ...statics, ['LEASETIME', `${Number(v.hours) || 12}h`],
      ['ADDRPOOL', [['START', requireAddress(v.start, 'The pool start')], ['END', requireAddress(v.end, 'The pool end')]]],
    ]));
  });
}

function wanForm({ wan }) {
  const type = wan ? text(wan, 'TYPE') : 'dhcp';
  const dns = wan ? texts(child(wan.documentElement, 'PROTO'), 'DNS').join(' ') : '';
  const groups = {
    static: el('fieldset', {}, el('legend', {}, 'Static address'),
      field('Address', 'ip', type === 'static' ? text(wan, 'IP') : ''),
      field('Netmask', 'netmask', type === 'static' ? text(wan, 'NETMASK') : ''),
      field('Gateway', 'gateway', type === 'static' ? text(wan, 'GATEWAY') : ''),
      field('DNS servers (separated by blanks)', 'dns', type === 'static' ? dns : '')),
    pppoe: el('fieldset', {}, el('legend', {}, 'PPPoE account'),
      field('User name', 'user', type === 'pppoe' ? text(wan, 'USER_NAME') : '', { autocomplete: 'off' }),
      field('Password', 'password', type === 'pppoe' ? text(wan, 'PASSWD') : '', { type: 'password', autocomplete: 'off' })),
  };
  const typeSelect = select('Connection', 'type', [['dhcp', 'DHCP (automatic address)'], ['static', 'Static address'], ['pppoe', 'PPPoE']], type);
  const showGroup = () => {
    const chosen = typeSelect.querySelector('select').value;
    for (const [name, group] of Object.entries(groups)) group.hidden = name !== chosen;
  };
  typeSelect.addEventListener('change', showGroup);
  showGroup();

  const detect = el('button', { type: 'button' }, 'Detect');
  const found = el('p', { class: 'message', role: 'status' });
  const waiting = progress('Detecting');
  detect.addEventListener('click', async () => {
    detect.disabled = true;
    waiting.run(5, 'Asking the uplink…');
    try {
      const protos = texts((await get('uplink')).documentElement, 'PROTO').filter(Boolean);
      say(found, protos.length ? `Answered on the WAN port: ${protos.join(', ')}.` : 'Neither a DHCP server nor a PPPoE server answered.');
      if (protos.length) {
        typeSelect.querySelector('select').value = protos.includes('pppoe') && !protos.includes('dhcp') ? 'pppoe' : protos[0];
        showGroup();
      }
    } catch (err) {
      say(found, err.message, true);
    } finally {
      waiting.stop();
      detect.disabled = false;
    }
  });

  return form('WAN', [
    el('div', { class: 'inline' }, typeSelect, detect), waiting.node, found,
    groups.static, groups.pppoe,
    field('MTU', 'mtu', wan ? text(wan, 'MTU') : '1500', { type: 'number', min: 576, max: 1500 }),
  ], 'Save WAN', async (v) => {
    const proto = [['TYPE', v.type], ['MTU', v.mtu || null]];
    if (v.type === 'static') {
      proto.push(['IP', requireAddress(v.ip, 'The address')], ['NETMASK', requireAddress(v.netmask, 'The netmask')]);
      if (v.gateway) proto.push(['GATEWAY', requireAddress(v.gateway, 'The gateway')]);
      for (const server of v.dns.split(/[\s,]+/).filter(Boolean)) proto.push(['DNS', requireAddress(server, server)]);
    } else if (v.type === 'pppoe') {
      if (!v.user || !v.password) throw new Error('PPPoE needs a user name and a password.');
      proto.push(['USER_NAME', v.user], ['PASSWD', v.password]);
    }
    await post('network/wan', xml('NETWORK', [['PROTO', proto]]));
  });
}

export function render(data, root) {
  root.append(el('h1', {}, 'Network'), el('div', { class: 'grid' }, lanForm(data), dhcpForm(data), wanForm(data)));
}
