// Keeps one native messaging port to vantortrans-host open and answers the
// programs' requests that arrive through it: the list of tabs, and text to
// insert into one tab, which the content script of that tab does.
'use strict';

const api = globalThis.browser ?? globalThis.chrome;
const HOST = 'de.vantortrans.host';
const RETRY_FIRST_MS = 250;
const RETRY_MAX_MS = 5000;

let port = null;
let retryMs = RETRY_FIRST_MS;
let retryTimer = null;

function browserName() {
  const ua = navigator.userAgent;
  if (ua.includes('Firefox/')) return 'firefox';
  if (ua.includes('Edg/')) return 'edge';
  const brands = navigator.userAgentData?.brands ?? [];
  if (brands.some((b) => b.brand === 'Google Chrome')) return 'chrome';
  if (brands.some((b) => b.brand === 'Microsoft Edge')) return 'edge';
  return 'chromium';
}

function connect() {
  if (port) return;
  retryTimer = null;
  let p;
  try {
    p = api.runtime.connectNative(HOST);
  } catch (e) {
    scheduleReconnect();
    return;
  }
  port = p;
  p.onMessage.addListener((msg) => {
    retryMs = RETRY_FIRST_MS;  // the host runs: the next loss starts short again
    handle(p, msg);
  });
  p.onDisconnect.addListener(() => {
    // Reading lastError marks it as seen; the host is gone either way.
    void api.runtime.lastError;
    if (port === p) port = null;
    scheduleReconnect();
  });
  p.postMessage({type: 'hello', browser: browserName(), version: api.runtime.getManifest().version});
}

// The host ends when it is killed or not registered; try again soon, then
// less often, so a program that is started later finds the extension quickly.
function scheduleReconnect() {
  if (retryTimer !== null) return;
  retryTimer = setTimeout(connect, retryMs);
  retryMs = Math.min(retryMs * 2, RETRY_MAX_MS);
}

function answer(p, msg, fields) {
  try {
    p.postMessage({id: Number.isInteger(msg?.id) ? msg.id : null, app: msg?.app, ...fields});
  } catch (e) {
    // The port closed meanwhile; the program times out and keeps the data.
  }
}

async function listTabs() {
  const [tabs, windows] = await Promise.all([api.tabs.query({}), api.windows.getAll()]);
  const focused = new Set(windows.filter((w) => w.focused).map((w) => w.id));
  return tabs.map((t) => ({
    tab: t.id,
    window: t.windowId,
    title: t.title ?? '',
    active: !!t.active,
    focused: focused.has(t.windowId),
    doc: pages.get(t.id)?.doc ?? '',
  }));
}

// The content script of every page keeps a port open to us; a delivery goes
// over the port of the named tab's top frame. A port is much quicker than a
// message that has to find its receiver each time.
const pages = new Map();  // tab id -> {port, pending: Map(rid -> resolve)}
let nextRid = 1;

api.runtime.onConnect.addListener((port) => {
  const tab = port.sender?.tab?.id;
  if (!port.name.startsWith('vt-page:') || !Number.isInteger(tab) || port.sender.frameId !== 0) {
    port.disconnect();
    return;
  }
  const page = {port, doc: port.name.slice('vt-page:'.length), pending: new Map()};
  pages.get(tab)?.port.disconnect();
  pages.set(tab, page);
  port.onMessage.addListener((reply) => {
    const resolve = page.pending.get(reply?.rid);
    if (resolve) {
      page.pending.delete(reply.rid);
      resolve(reply.result);
    }
  });
  port.onDisconnect.addListener(() => {
    void api.runtime.lastError;
    if (pages.get(tab) === page) pages.delete(tab);
    // The page went away under the request: nothing was inserted by it.
    for (const resolve of page.pending.values()) resolve(null);
    page.pending.clear();
  });
});

function askPage(page, request) {
  return new Promise((resolve) => {
    const rid = nextRid++;
    page.pending.set(rid, resolve);
    try {
      page.port.postMessage({rid, deliver: request});
    } catch (e) {
      page.pending.delete(rid);
      resolve(null);
    }
  });
}

// The tabs' titles as the browser last reported them. Asking the browser
// for a tab costs a round trip per line; its change events keep this up to
// date at no cost to a delivery.
const titles = new Map();  // tab id -> title
api.tabs.onUpdated.addListener((id, change, tab) => {
  if (typeof tab?.title === 'string') titles.set(id, tab.title);
});
api.tabs.onRemoved.addListener((id) => titles.delete(id));

// Whether the tab still carries the form's title, as the program's search
// among the tabs demands; the program does not search again between lines.
async function stillTheForm(tab, title) {
  if (title === undefined) return true;
  if (!titles.has(tab)) {
    try {
      titles.set(tab, (await api.tabs.get(tab)).title ?? '');
    } catch (e) {
      return false;
    }
  }
  return title !== '' && titles.get(tab).includes(title);
}

// The texts for one tab reach its page in the order they came, even when
// the check of one has to wait for the browser. A text waits only until the
// one before it has been passed on, not for that one's answer.
const queues = new Map();  // tab id -> promise: the text before has been passed on

async function deliverInOrder(msg) {
  const tab = Number.isInteger(msg.tab) ? msg.tab : null;
  const before = queues.get(tab);
  let passedOn;
  const mine = new Promise((resolve) => { passedOn = resolve; });
  queues.set(tab, mine);
  try {
    if (before) await before;
    return await deliver(msg, passedOn);
  } finally {
    passedOn();
    if (queues.get(tab) === mine) queues.delete(tab);
  }
}

async function deliver(msg, passedOn) {
  const {tab, title, doc, session, seq, after, accessKey, text} = msg;
  if (!Number.isInteger(tab) || typeof session !== 'string' || !Number.isInteger(seq) ||
      typeof accessKey !== 'string' || typeof text !== 'string' ||
      (title !== undefined && typeof title !== 'string') ||
      (doc !== undefined && typeof doc !== 'string') ||
      (after !== undefined && !Number.isInteger(after))) {
    return {ok: false, reason: 'bad-request'};
  }
  if (!(await stillTheForm(tab, title))) return {ok: false, reason: 'no-tab'};
  const page = pages.get(tab);
  // The tab shows the page again since the program's search (a reload):
  // that page is another form, found by the next search.
  if (doc && page && page.doc !== doc) return {ok: false, reason: 'no-tab'};
  const asked = page ? askPage(page, {session, seq, after, accessKey, text}) : null;
  passedOn();
  const reply = asked ? await asked : null;
  if (reply && typeof reply.ok === 'boolean') return reply;
  // Either the tab is gone, or its page has no content script (yet): a page
  // still loading, or one opened before the extension was installed.
  try {
    await api.tabs.get(tab);
  } catch (e) {
    return {ok: false, reason: 'no-tab'};
  }
  return {ok: false, reason: 'not-ready'};
}

async function handle(p, msg) {
  if (msg === null || typeof msg !== 'object' || Array.isArray(msg)) {
    answer(p, null, {ok: false, reason: 'bad-request'});
    return;
  }
  // An answer of the host's own (to something we sent) needs none back.
  if ('ok' in msg) return;
  if (!Number.isInteger(msg.id)) {
    answer(p, msg, {ok: false, reason: 'bad-request'});
    return;
  }
  if (msg.type === 'tabs') {
    try {
      answer(p, msg, {ok: true, tabs: await listTabs()});
    } catch (e) {
      answer(p, msg, {ok: false, reason: 'not-ready'});
    }
  } else if (msg.type === 'deliver') {
    answer(p, msg, await deliverInOrder(msg));
  } else {
    answer(p, msg, {ok: false, reason: 'bad-request'});
  }
}

api.runtime.onStartup.addListener(connect);
api.runtime.onInstalled.addListener(connect);
connect();
