// System: device name, time, password, operating mode, backup, restore and
// firmware, reboot and factory reset, VLANs and the logs.
import { get, post, postAction, upload, text, texts, children, child, xml, hexEncode } from '../api.js';
import { el, field, checkbox, select, form, rowList, readRows, progress, say, card, facts, modeNames } from '../ui.js';

export const title = 'System';

export async function load() {
  const [basic, time, syslog, kerlog, vlan] = await Promise.all([
    get('system/basic'), get('time'), get('log/syslog'), get('log/kerlog'), get('vlan'),
  ]);
  return { basic, time, syslog, kerlog, vlan };
}

// Log texts come Base64-encoded, of XML-escaped text.
export function decodeLog(doc) {
  const base64 = text(doc, 'MSG').replace(/\s+/g, '');
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const entities = { '&lt;': '<', '&gt;': '>', '&quot;': '"', '&apos;': "'", '&amp;': '&' };
  return new TextDecoder().decode(bytes).replace(/&(lt|gt|quot|apos|amp);/g, (e) => entities[e]);
}

// After a reboot, reset, restore or upgrade: ask until the device answers
// again (any HTTP answer will do: the session is gone by then), then reload.
function waitForDevice(message, started = Date.now()) {
  const seconds = Math.round((Date.now() - started) / 1000);
  say(message, `Waiting for the device to come back… ${seconds} s`);
  if (seconds > 300) {
    say(message, 'The device has not come back after 5 minutes. Check its power and cable.', true);
    return;
  }
  setTimeout(async () => {
    try {
      const response = await fetch('/cgi-bin/route/system/basic', { cache: 'no-store' });
      if (response.status !== 502 && response.status !== 503) {
        location.reload();
        return;
      }
    } catch (err) {
      // Not back yet.
    }
    waitForDevice(message, started);
  }, 3000);
}

function nameForm({ basic }) {
  return form('Device name', [
    field('Group', 'group', text(basic, 'SYSDEVGROUP'), { required: true }),
    field('Name', 'name', text(basic, 'SYSDEVNAME'), { required: true }),
  ], 'Save name', (v) => post('system/basic', xml('SYSTEM', [['SYSDEVGROUP', v.group], ['SYSDEVNAME', v.name]])));
}

const zones = [
  ['UTC0', 'UTC'], ['GMT0BST,M3.5.0/1,M10.5.0', 'London'], ['CET-1CEST,M3.5.0,M10.5.0/3', 'Central Europe'],
  ['EET-2EEST,M3.5.0/3,M10.5.0/4', 'Eastern Europe'], ['MSK-3', 'Moscow'], ['IST-5:30', 'India'],
  ['CST-8', 'China'], ['JST-9', 'Japan'], ['AEST-10AEDT,M10.1.0,M4.1.0/3', 'Sydney'],
  ['EST5EDT,M3.2.0,M11.1.0', 'US Eastern'], ['CST6CDT,M3.2.0,M11.1.0', 'US Central'], ['PST8PDT,M3.2.0,M11.1.0', 'US Pacific'],
];

function timeForm({ time }) {
  const zoneList = el('datalist', { id: 'zones' }, zones.map(([value, label]) => el('option', { value }, label)));
  return form('Time', [
    facts([['Device time', text(time, 'CTIME')]]),
    field('Time zone (POSIX form, e.g. CET-1CEST,M3.5.0,M10.5.0/3)', 'zone', text(time, 'TIME_ZONE'), { list: 'zones' }), zoneList,
    field('NTP servers (separated by blanks)', 'ntp', text(time, 'TIME_SERVER')),
  ], 'Save time', (v) => post('time', xml('TIME', [['TIME_ZONE', v.zone], ['TIME_SERVER', v.ntp]])));
}

function passwordForm() {
  return form('Password', [
    select('Account', 'user', [['admin', 'admin'], ['root', 'root']], 'admin'),
    field('Current password', 'old', '', { type: 'password', autocomplete: 'current-password', required: true }),
    field('New password', 'new', '', { type: 'password', autocomplete: 'new-password', required: true, maxlength: 127 }),
    field('New password again', 'again', '', { type: 'password', autocomplete: 'new-password', required: true }),
  ], 'Change password', async (v, node) => {
    if (v.new !== v.again) throw new Error('The two new passwords differ.');
    await post('passwd', xml('PASSWD', [['USER_NAME', v.user], ['OLD_PASSWD', hexEncode(v.old)], ['PASSWD', hexEncode(v.new)]]));
    node.reset();
    return 'Password changed.';
  });
}

function modeForm({ basic }) {
  const current = text(basic, 'SYS_MODE');
  return form('Operating mode', [
    facts([['Now', modeNames[current] || current]]),
    select('New mode', 'mode', Object.entries(modeNames), current),
    el('p', { class: 'warning' }, 'Switching the mode rewrites the LAN and WAN interfaces, the DHCP server, ' +
      'bandwidth control and every wireless network (only the two main networks stay on, all as access points), ' +
      'and removes every VLAN. In the bridge modes 4 and 5 the device takes its address from a DHCP server ' +
      '(fallback 192.168.188.253). The new mode takes effect after a reboot.'),
  ], 'Switch mode', async (v) => {
    if (v.mode === current) return 'That is the current mode.';
    if (!window.confirm(`Switch to "${modeNames[v.mode]}"? The settings above are rewritten.`)) return 'Not switched.';
    await post('system/active', xml('SYSTEM', [['ACT', 'Mode'], ['MODE', v.mode]]));
    return 'Switched. Reboot the device to apply the new mode.';
  });
}

// Uploads a file, then starts the restore or upgrade with the name the
// gateway gave it, then waits for the device.
function fileSection(kind, label, action) {
  const input = el('input', { type: 'file', id: `file-${kind}`, name: kind });
  const keep = kind === 'firmware' ? checkbox('Keep the settings', 'keep', true) : null;
  const button = el('button', { type: 'button' }, label);
  const message = el('p', { class: 'message', role: 'status' });
  const bar = progress(`${label} upload`);
  button.addEventListener('click', async () => {
    const file = input.files[0];
    if (!file) return say(message, 'Choose a file first.', true);
    const what = kind === 'firmware' ? 'install this firmware' : 'restore this backup';
    if (!window.confirm(`Really ${what}? The device restarts.`)) return undefined;
    button.disabled = true;
    try {
      const name = await upload(kind, file, (f) => bar.set(f, `${Math.round(f * 100)} %`));
      bar.set(1, 'Uploaded');
      const save = keep && keep.querySelector('input').checked ? '1' : '0';
      await postAction('system/active', xml('SYSTEM', action(name, save)));
      waitForDevice(message);
    } catch (err) {
      say(message, err.message, true);
      button.disabled = false;
    }
    return undefined;
  });
  return el('div', { class: 'upload' }, el('label', { for: `file-${kind}` }, kind === 'firmware' ? 'Firmware image' : 'Backup file'),
    input, keep, button, bar.node, message);
}

function backupCard() {
  const button = el('button', { type: 'button' }, 'Download backup');
  const message = el('p', { class: 'message', role: 'status' });
  button.addEventListener('click', async () => {
    try {
      await get('system/backup'); // packs the archive the download hands out
      const link = el('a', { href: '/cgi-bin/route/download/backup', download: 'backup.tar.gz', hidden: true });
      document.body.append(link);
      link.click();
      link.remove();
      say(message, 'The backup holds the passwords: keep it safe.');
    } catch (err) {
      say(message, err.message, true);
    }
  });
  return card('Backup, restore and firmware', button, message,
    fileSection('backup', 'Restore', (name) => [['ACT', 'Restore'], ['URL', name]]),
    fileSection('firmware', 'Upgrade', (name, save) => [['ACT', 'Upgrade'], ['URL', name], ['SAVE_CFG', save]]));
}

function actionButton(label, question, act, message) {
  return el('button', { type: 'button', class: 'danger', onclick: async (event) => {
    if (!window.confirm(question)) return;
    event.target.disabled = true;
    try {
      await postAction('system/active', xml('SYSTEM', [['ACT', act]]));
      waitForDevice(message);
    } catch (err) {
      say(message, err.message, true);
      event.target.disabled = false;
    }
  } }, label);
}

function restartCard() {
  const message = el('p', { class: 'message', role: 'status' });
  return card('Restart',
    el('div', { class: 'actions' },
      actionButton('Reboot', 'Reboot the device now?', 'Reboot', message),
      actionButton('Factory reset', 'Delete every setting and restart with the factory settings?', 'Reset', message)),
    message);
}

function vlanForm({ vlan }) {
  const items = children(vlan.documentElement, 'VLAN').map((v) => ({
    vid: text(v, 'VID'), ports: texts(child(v, 'PORT'), 'NUM').join(' '), ssids: texts(child(v, 'SSID'), 'ID').join(' '),
  }));
  const rows = rowList('VLAN', items, (v) => [
    field('VLAN id (3-4094)', 'vid', v.vid, { type: 'number', min: 3, max: 4094 }),
    field('Ports (separated by blanks)', 'ports', v.ports),
    field('Networks, by id (e.g. 01 11)', 'ssids', v.ssids),
  ], { vid: '', ports: '', ssids: '' });
  return form('VLANs', [rows, el('p', { class: 'note' }, 'VLAN changes take effect at the next restart of the network.')],
    'Save VLANs', (v, node) => post('vlan', xml('VLAN_CONFIG', readRows(node).filter((r) => r.vid).map((r) => {
      const list = (s) => s.split(/[\s,]+/).filter(Boolean);
      const vlanPairs = [['VID', r.vid]];
      if (list(r.ports).length) vlanPairs.push(['PORT', list(r.ports).map((n) => ['NUM', n])]);
      if (list(r.ssids).length) vlanPairs.push(['SSID', list(r.ssids).map((n) => ['ID', n])]);
      return ['VLAN', vlanPairs];
    }))));
}

function logCard(title, doc, open) {
  return el('details', { class: 'card log', open }, el('summary', {}, title), el('pre', {}, decodeLog(doc) || '(empty)'));
}

export function render(data, root) {
  root.append(el('h1', {}, 'System'), el('div', { class: 'grid' },
    nameForm(data), timeForm(data), passwordForm(), modeForm(data), backupCard(), restartCard(), vlanForm(data)),
  logCard('System log', data.syslog, true), logCard('Kernel log', data.kerlog, false));
}
