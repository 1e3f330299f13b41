// Login: the gateway keeps the session in an HttpOnly cookie, so the page
// never sees the token.
import { post, xml, hexEncode, sessionStarted } from '../api.js';
import { el, field, form } from '../ui.js';

export const title = 'Log in';

export async function load() {
  return null;
}

export function render(data, root, { done }) {
  const login = form('Log in', [
    field('User name', 'user', 'admin', { autocomplete: 'username', required: true }),
    field('Password', 'password', '', { type: 'password', autocomplete: 'current-password', required: true }),
  ], 'Log in', async (v) => {
    try {
      await post('login', xml('LOGIN', [['USER_NAME', v.user], ['PASSWD', hexEncode(v.password)]]));
    } catch (err) {
      if (err.status === 200 && err.code === 5) throw new Error('Wrong user name or password.');
      throw err;
    }
    sessionStarted();
    done();
    return 'Logged in.';
  });
  login.id = 'login';
  root.append(el('div', { class: 'narrow' }, login));
  login.querySelector('input[type=password]').focus();
}
