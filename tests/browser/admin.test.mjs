// The admin page in Debian's Chromium against a simulated device's web
// server. tests/browser/run starts the device and runs this file at the far
// end of the device's LAN cable, with
//   PALLAD_WEB      the page's address (http://192.168.1.1)
//   PALLAD_DEV      the device's state folder (for devsim exec)
//   PALLAD_SHOTS    where the screenshots go
// Each test is one whole road through the page; they run in order and share
// one browser.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import http from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const base = process.env.PALLAD_WEB;
const device = process.env.PALLAD_DEV;
const shots = process.env.PALLAD_SHOTS || tmpdir();
const devsim = new URL('../../sim/devsim', import.meta.url).pathname;
const views = ['status', 'wireless', 'clients', 'survey', 'network', 'firewall', 'system'];
// At most 32 bytes, as an SSID is; a global name set from an event handler
// lands on window, as window.__pwned=1 would.
const hostileName = '<img src=x onerror=__pwned=1>';

let browser;
let adminPassword = 'admin'; // changed on the page by the password road

// Runs a command inside the device and gives its output.
function inDevice(...command) {
  return execFileSync(devsim, ['exec', '--state', device, '--', ...command], { encoding: 'utf8' }).trim();
}

before(async () => {
  assert.ok(base && device, 'PALLAD_WEB and PALLAD_DEV must be set (tests/browser/run sets them)');
  mkdirSync(shots, { recursive: true });
  // playwright starts the browser with a new empty profile folder of its own
  // (--user-data-dir), which it removes at close.
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
});

// A fresh browser profile with a page that fails the test on any script error.
async function freshPage(viewport = { width: 1280, height: 900 }) {
  const context = await browser.newContext({ viewport });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (err) => page.errors.push(err.message));
  return page;
}

// Logs in; with the right password, waits until a view is shown.
async function logIn(page, password = adminPassword) {
  await page.goto(`${base}/`);
  await page.waitForSelector('#login');
  await page.fill('#login input[name=user]', 'admin');
  await page.fill('#login input[name=password]', password);
  await page.click('#login button[type=submit]');
  if (password === adminPassword) await page.waitForSelector('main[data-view]:not([data-view=""]):not([data-view="login"])');
}

async function openView(page, name) {
  await page.goto(`${base}/#${name}`);
  await page.waitForSelector(`main[data-view="${name}"]`, { timeout: 30000 });
}

test('a wrong password is refused, the right one opens the status view, which renders in time', async () => {
  const page = await freshPage();
  await page.goto(`${base}/#wireless`);
  await page.waitForSelector('#login');
  assert.equal(await page.isVisible('#nav'), false, 'no views without a session');
  await page.screenshot({ path: path.join(shots, 'login.png') });

  await logIn(page, 'not-the-password');
  await page.waitForSelector('#login .message.error');
  assert.equal(await page.textContent('#login .message'), 'Wrong user name or password.');

  await page.fill('#login input[name=password]', 'admin');
  await page.click('#login button[type=submit]');
  await page.waitForSelector('main[data-view="status"]');
  await page.reload();
  await page.waitForSelector('main[data-view="status"]');
  const ms = await page.evaluate(() => performance.getEntriesByName('status-ready')[0].startTime);
  console.log(`status view: first full render ${Math.round(ms)} ms after the navigation started`);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('every view loads and shows the device\'s values, labelled, at desktop and phone width', async () => {
  const page = await freshPage();
  await logIn(page);
  const lanIp = inDevice('uci', 'get', 'network.lan.ipaddr');
  const ssid = inDevice('uci', 'get', 'wireless.@wifi-iface[0].ssid');
  const zone = inDevice('uci', 'get', 'system.@system[0].timezone');
  const leaseMac = inDevice('sh', '-c', 'head -n1 /tmp/dhcp.leases').split(' ')[1].toUpperCase();
  inDevice('sh', '-c', "printf '%s' '<FIREWALL><PORT_FORWARD><SRC_PORT>8000</SRC_PORT><DEST_IP>192.168.1.20</DEST_IP>" +
    "<DEST_PORT>80</DEST_PORT></PORT_FORWARD><DMZ><IP>192.168.1.30</IP></DMZ></FIREWALL>' | pallactl post firewall");
  // What each view must show, read from the device itself.
  const expected = {
    status: async () => {
      assert.match(await page.textContent('main'), new RegExp(`LAN${lanIp.replace(/\./g, '\\.')} / `));
      // The refreshes draw the throughput graph: three samples need four reads.
      await page.waitForFunction(() => document.querySelector('.graph polyline').getAttribute('points').split(' ').length >= 3,
        null, { timeout: 30000 });
    },
    wireless: async () => assert.equal(await page.inputValue('form[aria-label="Network 00"] input[name=ssid]'), ssid),
    clients: async () => assert.match(await page.textContent('main'), new RegExp(leaseMac)),
    survey: async () => {
      await page.click('text=Start survey');
      await page.waitForSelector('#survey-table');
      assert.match(await page.textContent('#survey-table'), /HomeNet/);
      assert.equal(await page.locator('.chart rect.bar').count() > 0, true);
    },
    network: async () => assert.equal(await page.inputValue('form[aria-label="LAN"] input[name=ip]'), lanIp),
    firewall: async () => {
      assert.equal(await page.inputValue('input[name=dmz]'), '192.168.1.30');
      assert.equal(await page.inputValue('[data-row] input[name=ip]'), '192.168.1.20');
    },
    system: async () => {
      assert.equal(await page.inputValue('input[name=zone]'), zone);
      assert.match(await page.textContent('.log pre'), /syslogd/);
    },
  };
  for (const name of views) {
    await openView(page, name);
    await expected[name]();
    const unlabelled = await page.$$eval('main input, main select, main textarea',
      (controls) => controls.filter((c) => !c.labels.length && !c.getAttribute('aria-label')).map((c) => c.name));
    assert.deepEqual(unlabelled, [], `${name}: every control has a label`);
    await page.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
    await page.setViewportSize({ width: 390, height: 844 });
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `${name}: fits a phone's width (${overflow} px too wide)`);
    await page.screenshot({ path: path.join(shots, `${name}-phone.png`), fullPage: true });
    await page.setViewportSize({ width: 1280, height: 900 });
  }
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('an SSID changed on the page is in the store', async () => {
  const page = await freshPage();
  await logIn(page);
  await openView(page, 'wireless');
  const form = page.locator('form[aria-label="Network 00"]');
  await form.locator('input[name=ssid]').fill('Lobby & Café');
  await form.locator('button[type=submit]').click();
  await form.locator('.message', { hasText: 'Saved.' }).waitFor({ timeout: 30000 });
  assert.equal(inDevice('uci', 'get', 'wireless.@wifi-iface[0].ssid'), 'Lobby & Café');
  await page.context().close();
});

test('a surveyed network named with markup is shown as text and runs nothing', async () => {
  inDevice('sh', '-c', `printf '%s\\n' 'bssid=02:66:66:66:66:66 channel=6 signal=-40 quality=70/94 crypto=none ssid=${hostileName}' >>/sim/radio/wifi0/scan`);
  const page = await freshPage();
  await logIn(page);
  await openView(page, 'survey');
  await page.click('text=Start survey');
  await page.waitForSelector('#survey-table');
  const cell = page.locator('#survey-table td', { hasText: hostileName });
  assert.ok(await cell.count() >= 1, 'the name is a cell\'s text');
  assert.match(await page.textContent('.chart'), /<img src=x/);
  await page.waitForTimeout(500);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.equal(await page.locator('main img').count(), 0);
  await page.context().close();
});

test('a page from another origin cannot make the device change anything', async () => {
  const before = inDevice('uci', 'get', 'wireless.@wifi-iface[0].ssid');
  const wifiRestarts = () => inDevice('sh', '-c', 'grep -c /sbin/wifi /sim/commands.log || true');
  const restarts = wifiRestarts();
  const target = `${base}/cgi-bin/route/wireless/vap`;
  const body = `<WIRELESS><VAP><ID>00</ID><SSID>Forged</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>0</ENCRYPTION></SECURITY></VAP></WIRELESS>`;
  // The other site: a form that posts itself, and scripts that try fetch.
  const evil = http.createServer((req, res) => {
    res.setHeader('Content-Type', 'text/html');
    res.end(`<!DOCTYPE html><form id=f method=post enctype=text/plain action="${target}">
      <input type=hidden name="${body.replace(/"/g, '&quot;')}" value=""></form>
      <script>
        fetch(${JSON.stringify(target)}, { method: 'POST', mode: 'no-cors', credentials: 'include', body: ${JSON.stringify(body)} }).catch(() => {});
        fetch(${JSON.stringify(target)}, { method: 'POST', credentials: 'include', headers: { 'X-Requested-With': 'XMLHttpRequest' }, body: ${JSON.stringify(body)} }).catch(() => {});
        setTimeout(() => document.getElementById('f').submit(), 300);
      </script>`);
  });
  await new Promise((resolve) => evil.listen(0, '127.0.0.1', resolve));
  const page = await freshPage();
  await logIn(page);
  const sent = [];
  page.on('response', (r) => r.url() === target && sent.push(r.status()));
  await page.goto(`http://127.0.0.1:${evil.address().port}/`);
  await page.waitForURL(target, { timeout: 10000 }).catch(() => {});
  await page.waitForTimeout(1000);
  evil.close();
  console.log(`forged requests were answered with HTTP ${sent.join(', ')}`);
  assert.equal(inDevice('uci', 'get', 'wireless.@wifi-iface[0].ssid'), before);
  assert.equal(wifiRestarts(), restarts, 'the wireless was not restarted');
  assert.ok(sent.every((status) => status !== 200), `no forged request was served (${sent})`);
  await page.context().close();
});

test('logout ends the session', async () => {
  const page = await freshPage();
  await logIn(page);
  await page.click('#logout');
  await page.waitForSelector('#login');
  await page.goto(`${base}/#system`);
  await page.reload();
  await page.waitForSelector('#login');
  const status = await page.evaluate(async () => (await fetch('/cgi-bin/route/system/basic')).status);
  assert.equal(status, 401);
  await page.context().close();
});

test('a password changed on the page is the one the next login needs', async () => {
  const page = await freshPage();
  await logIn(page);
  await openView(page, 'system');
  const form = page.locator('form[aria-label="Password"]');
  await form.locator('input[name=old]').fill('admin');
  await form.locator('input[name=new]').fill('n3w pass');
  await form.locator('input[name=again]').fill('n3w pass');
  await form.locator('button[type=submit]').click();
  await form.locator('.message', { hasText: 'Password changed.' }).waitFor();
  adminPassword = 'n3w pass';
  await page.click('#logout');
  await logIn(page, 'admin');
  await page.waitForSelector('#login .message.error');
  await logIn(page);
  await page.context().close();
});

test('a firmware uploaded on the page is handed to the upgrade, and the page waits for the device', async () => {
  const page = await freshPage();
  page.on('dialog', (dialog) => dialog.accept());
  await logIn(page);
  await openView(page, 'system');
  // The upload is real; the upgrade request is caught and answered as a
  // device going down would (its far end, where this runs, would go with it).
  let upgrade = null;
  await page.route('**/cgi-bin/route/system/active', (route) => {
    upgrade = route.request().postData();
    route.fulfill({ status: 502, body: '' });
  });
  // The image header's magic, then 256 KiB: enough for progress events.
  const image = Buffer.concat([Buffer.from([0x27, 0x05, 0x19, 0x56]), Buffer.alloc(256 * 1024, 0x5a)]);
  await page.setInputFiles('#file-firmware', { name: 'firmware.bin', mimeType: 'application/octet-stream', buffer: image });
  await page.click('button:text-is("Upgrade")');
  await page.locator('.upload .message', { hasText: 'Waiting for the device' }).waitFor({ timeout: 30000 });
  assert.equal(await page.getAttribute('.upload progress[aria-label="Upgrade upload"]', 'value'), '100');
  assert.equal(upgrade, '<SYSTEM><ACT>Upgrade</ACT><URL>web-firmware.bin</URL><SAVE_CFG>1</SAVE_CFG></SYSTEM>');
  assert.equal(inDevice('wc', '-c', '/tmp/web-firmware.bin'), `${image.length} /tmp/web-firmware.bin`);
  // The device answers again: the page loads anew.
  await page.waitForEvent('load', { timeout: 30000 });
  await page.waitForSelector('main[data-view="system"]');
  await page.context().close();
});
