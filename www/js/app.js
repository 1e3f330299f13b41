// The page's frame: picks the view from the address's #fragment, runs its
// load step, then its render step, and sends the user to the login when the
// session has ended.
import { post, whenLoginRequired } from './api.js';
import { el } from './ui.js';

const views = {
  login: () => import('./views/login.js'),
  status: () => import('./views/status.js'),
  wireless: () => import('./views/wireless.js'),
  clients: () => import('./views/clients.js'),
  survey: () => import('./views/survey.js'),
  network: () => import('./views/network.js'),
  firewall: () => import('./views/firewall.js'),
  system: () => import('./views/system.js'),
};

const main = document.getElementById('view');
const nav = document.getElementById('nav');
let current = null; // the shown view's module, for its leave step
let currentName = '';
let generation = 0; // a newer navigation makes older loads drop their result

function viewName() {
  const name = location.hash.slice(1);
  return name in views && name !== 'login' ? name : 'status';
}

async function show(name) {
  const mine = ++generation;
  if (current && current.leave) current.leave();
  current = null;
  currentName = name;
  nav.hidden = name === 'login';
  for (const link of nav.querySelectorAll('a')) {
    if (link.hash === '#' + name) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  const view = await views[name]();
  main.dataset.view = '';
  main.replaceChildren(el('p', { class: 'message' }, 'Loading…'));
  let data;
  try {
    data = await view.load();
  } catch (err) {
    if (mine === generation && err.status !== 401) {
      main.replaceChildren(el('p', { class: 'message error', role: 'alert' }, err.message));
    }
    return;
  }
  if (mine !== generation) return;
  document.title = `${view.title} – Access point`;
  main.replaceChildren();
  view.render(data, main, { done: () => show(viewName()) });
  main.dataset.view = name;
  current = view;
}

whenLoginRequired(() => {
  if (currentName !== 'login') show('login');
});

document.getElementById('logout').addEventListener('click', async () => {
  try {
    await post('logout', '<LOGOUT/>');
  } catch (err) {
    // The session is ended on the device either way once it answers.
  }
  show('login');
});

window.addEventListener('hashchange', () => {
  show(viewName());
  main.focus({ preventScroll: true });
});
show(viewName());
