// Wireless: per radio its channel, power and bandwidth from the radio's own
// lists; per network (VAP) its name, security, key, visibility and the MAC
// filter of the main networks.
import { get, post, text, texts, children, child, xml, hexEncode, hexDecode, macAddress } from '../api.js';
import { el, field, checkbox, select, textarea, form, card } from '../ui.js';

export const title = 'Wireless';

const bands = { '2G': { name: '2.4 GHz', list: '2g', first: 0 }, '5G': { name: '5 GHz', list: '5g', first: 4 } };

export const securityChoices = [
  ['0', 'None (open)'],
  ['1', 'WEP, open'], ['2', 'WEP, shared'],
  ['3', 'WPA-PSK TKIP'], ['4', 'WPA-PSK CCMP'], ['5', 'WPA-PSK TKIP+CCMP'],
  ['6', 'WPA2-PSK TKIP'], ['7', 'WPA2-PSK CCMP'], ['8', 'WPA2-PSK TKIP+CCMP'],
  ['9', 'WPA/WPA2-PSK TKIP'], ['10', 'WPA/WPA2-PSK CCMP'], ['11', 'WPA/WPA2-PSK TKIP+CCMP'],
  ['20', 'WPA Enterprise (802.1X)'],
];
const isPsk = (code) => code >= 3 && code <= 11;
const isWep = (code) => code === 1 || code === 2;

const bandwidths = {
  '2G': [['AUTO', 'Automatic'], ['HT20', '20 MHz'], ['HT40', '40 MHz']],
  '5G': [['AUTO', 'Automatic'], ['HT20', '20 MHz'], ['HT40', '40 MHz'], ['HT80', '80 MHz']],
};

export async function load() {
  const [config, vaps, channels, powers] = await Promise.all([
    get('wireless/config'), get('wireless/vap'), get('wireless/channel'), get('wireless/txpower'),
  ]);
  return { config, vaps, channels, powers };
}

// The list document's INTERFACE of one band.
function bandList(doc, band) {
  return children(doc.documentElement, 'INTERFACE').find((i) => text(i, 'BAND') === band) || null;
}

function channelOptions(channels, band) {
  return children(bandList(channels, band), 'CHANNEL').map((c) => {
    const value = c.getAttribute('channel');
    return [value, value === 'auto' ? 'Automatic' : c.textContent.replace('*', ' ').replace(/\s+/g, ' ').trim()];
  });
}

function powerOptions(powers, band) {
  return texts(bandList(powers, band), 'TXPOWER').map((t) => {
    const dbm = (t.match(/(\d+) dBm/) || [])[1] || t;
    return [dbm, t.replace('*', '').replace(/\s+/g, ' ').replace('( ', '(').trim()];
  });
}

function vapsOfBand(vaps, band) {
  const first = band === '2G' ? '0' : '1';
  return children(vaps.documentElement, 'VAP').filter((v) => text(v, 'ID').startsWith(first));
}

// The whole VAP element for a POST: what the page edits, and everything else
// as the device reported it (the agent resets what a VAP POST leaves out).
export function vapXml(vap, edits = {}) {
  const keep = (name) => (child(vap, name) ? text(vap, name) : null);
  const security = child(vap, 'SECURITY');
  const stored = Number(text(security, 'ENCRYPTION') || 0);
  const code = Number(edits.encryption ?? (stored < 0 ? 0 : stored));
  const securityPairs = [['ENCRYPTION', code]];
  if (isPsk(code)) {
    securityPairs.push(['KEY', edits.key !== undefined ? hexEncode(edits.key) : text(security, 'KEY')]);
  } else if (isWep(code)) {
    securityPairs.push(['KEY', isWep(stored) ? text(security, 'KEY') : '1']);
    for (const n of [1, 2, 3, 4]) securityPairs.push([`KEY${n}`, text(security, `KEY${n}`)]);
  }
  const pairs = [
    ['ID', text(vap, 'ID')],
    ['SSID', edits.ssid ?? text(vap, 'SSID')],
    ['MODE', text(vap, 'MODE') || 'ap'],
    ['SECURITY', securityPairs],
    ['DISABLE', edits.disable ?? text(vap, 'DISABLE')],
    ['HIDDEN', edits.hidden ?? text(vap, 'HIDDEN')],
    ['WMM', keep('WMM')], ['RTS', keep('RTS')], ['FRAG', keep('FRAG')],
    ['MAXASSOC', keep('MAXASSOC') || null], ['MCAST_RATE', keep('MCAST_RATE') || null], ['WDS', keep('WDS')],
  ];
  if (text(vap, 'MODE') === 'sta' && text(vap, 'BSSID')) {
    pairs.push(['BSSID', text(vap, 'BSSID')], ['BSSID_EN', text(vap, 'BSSID_EN')]);
  }
  const acl = edits.acl || aclOf(vap);
  if (acl) {
    pairs.push(['ACL', acl.disable ? [['DISABLE', '1']]
      : [['DISABLE', '0'], ['MODE', acl.mode], ...acl.macs.map((m) => ['MAC', m])]]);
  }
  return xml('VAP', pairs);
}

function aclOf(vap) {
  const acl = child(vap, 'ACL');
  if (!acl) return null;
  return { disable: text(acl, 'DISABLE') === '1', mode: text(acl, 'MODE'), macs: texts(acl, 'MAC') };
}

function postVaps(list) {
  return post('wireless/vap', `<WIRELESS>${list.join('')}</WIRELESS>`);
}

function radioForm(data, radio) {
  const band = text(radio, 'BAND');
  const { name } = bands[band];
  const vaps = vapsOfBand(data.vaps, band);
  const wasOn = text(radio, 'DISABLE') !== '1';
  return form(`${name} radio`, [
    checkbox('Radio on', 'on', wasOn),
    select('Channel', 'channel', channelOptions(data.channels, band), text(child(radio, 'BASE'), 'CHANNEL')),
    select('Transmit power (dBm)', 'txpower', powerOptions(data.powers, band), text(child(radio, 'BASE'), 'TXPOWER')),
    select('Bandwidth', 'htmode', bandwidths[band], text(radio, 'HTMODE')),
  ], 'Save radio', async (v) => {
    const advance = [['MODE', text(radio, 'MODE')], ['HTMODE', v.htmode]];
    const pairs = [['BAND', band], ['BASE', [['CHANNEL', v.channel], ['TXPOWER', v.txpower]]], ['ADVANCE', advance], ['WDS', child(radio, 'WDS')]];
    await post('wireless/config', xml('WIRELESS', [['CONFIG', pairs]]));
    // The radio has no switch of its own: off switches its networks off,
    // on switches its main network on.
    if (v.on !== wasOn) {
      const changed = v.on ? vaps.slice(0, 1) : vaps.filter((vap) => text(vap, 'DISABLE') !== '1');
      await postVaps(changed.map((vap) => vapXml(vap, { disable: v.on ? '0' : '1' })));
    }
  });
}

function vapForm(vap) {
  const id = text(vap, 'ID');
  const main = id.endsWith('0');
  const security = child(vap, 'SECURITY');
  const code = text(security, 'ENCRYPTION') || '0';
  const acl = aclOf(vap);
  const keyField = field('Key (8 to 63 characters)', 'key', isPsk(Number(code)) ? hexDecode(text(security, 'KEY')) : '',
    { type: 'password', autocomplete: 'off', minlength: 8, maxlength: 63 });
  const securitySelect = select('Security', 'encryption', securityChoices, code);
  const showKey = () => { keyField.hidden = !isPsk(Number(securitySelect.querySelector('select').value)); };
  securitySelect.addEventListener('change', showKey);
  showKey();
  const body = [
    field('Network name (SSID)', 'ssid', text(vap, 'SSID'), { maxlength: 32, required: true }),
    checkbox('Enabled', 'enabled', text(vap, 'DISABLE') !== '1'),
    checkbox('Hidden', 'hidden', text(vap, 'HIDDEN') === '1'),
    securitySelect, keyField,
    el('p', { class: 'note' }, `Mode: ${text(vap, 'MODE') === 'sta' ? 'station' : 'access point'}, channel ${text(vap, 'CUR_CHANNEL')}`),
  ];
  if (acl) {
    body.push(el('fieldset', {}, el('legend', {}, 'MAC filter'),
      checkbox('Filter on', 'aclOn', !acl.disable),
      select('Addresses listed are', 'aclMode', [['allow', 'allowed (all others refused)'], ['deny', 'refused']], acl.mode || 'deny'),
      textarea('Addresses, one per line', 'aclMacs', acl.macs.join('\n'))));
  }
  return form(`Network ${id}`, body, 'Save network', async (v) => {
    const edits = { ssid: v.ssid, encryption: v.encryption, disable: v.enabled ? '0' : '1', hidden: v.hidden ? '1' : '0' };
    if (isPsk(Number(v.encryption))) {
      if (v.key.length < 8 || v.key.length > 63) throw new Error('The key needs 8 to 63 characters.');
      edits.key = v.key;
    }
    if (acl) {
      const macs = v.aclMacs.split(/\s+/).filter(Boolean);
      const bad = macs.find((m) => !macAddress.test(m));
      if (bad) throw new Error(`Not a MAC address: ${bad}`);
      if (v.aclOn && !macs.length) throw new Error('A filter needs at least one address.');
      edits.acl = { disable: !v.aclOn, mode: v.aclMode, macs };
    }
    await postVaps([vapXml(vap, edits)]);
  });
}

export function render(data, root) {
  root.append(el('h1', {}, 'Wireless'));
  for (const radio of children(data.config.documentElement, 'CONFIG')) {
    const band = text(radio, 'BAND');
    const vaps = vapsOfBand(data.vaps, band);
    const [mainVap, ...extra] = vaps;
    root.append(el('div', { class: 'grid' },
      radioForm(data, radio),
      mainVap ? vapForm(mainVap) : null,
      card(`More ${bands[band].name} networks`, extra.map((vap) => el('details', {},
        el('summary', {}, `${text(vap, 'SSID')} (${text(vap, 'DISABLE') === '1' ? 'off' : 'on'})`), vapForm(vap))))));
  }
}
