// Lives in every http/https page and inserts text into its order form when
// the background asks. It looks at nothing but the element that takes the
// text, and never writes anywhere else.
'use strict';

(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  // The highest sequence number applied per program run: a request the
  // program retries after a lost answer is acknowledged, not inserted again.
  const applied = new Map();
  // This load of the page: a page loaded again is an empty form, and the
  // program must not take it for the one that already holds its lines.
  const doc = globalThis.crypto?.randomUUID?.() ??
      `${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}`;

  const TEXT_INPUTS = new Set(['', 'text', 'search', 'email', 'tel', 'url', 'number', 'password']);

  function editable(el) {
    if (!el || el.disabled || el.readOnly) return false;
    if (el instanceof HTMLTextAreaElement) return true;
    if (el instanceof HTMLInputElement) return TEXT_INPUTS.has(el.type);
    return el.isContentEditable === true;
  }

  function fieldFor(accessKey) {
    if (accessKey) {
      const key = accessKey.toLowerCase();
      for (const el of document.querySelectorAll('[accesskey]')) {
        if (el.accessKey.toLowerCase() !== key) continue;
        // An access key on a label means the label's field, as Alt+key would.
        const target = el instanceof HTMLLabelElement ? el.control : el;
        if (editable(target)) return target;
      }
    }
    const active = document.activeElement;
    return editable(active) ? active : null;
  }

  // Like a paste: replaces the selection at the caret and tells the page's
  // own code through an input event.
  function insert(el, text) {
    if (document.activeElement !== el) el.focus();
    // The editor's insertText costs several milliseconds a call in a long
    // text field; a field's own range replacement does the same at once.
    let start = null;
    try {
      start = el.selectionStart ?? null;
    } catch (e) {
      // Inputs such as type=number have no selection.
    }
    if (start !== null && typeof el.setRangeText === 'function') {
      el.setRangeText(text, start, el.selectionEnd, 'end');
    } else if (document.execCommand('insertText', false, text)) {
      return;  // the editor fired the input events itself
    } else if ('value' in el) {
      el.value += text;
    } else {
      el.append(text);
    }
    el.dispatchEvent(new InputEvent('input', {bubbles: true, inputType: 'insertFromPaste', data: text}));
  }

  // `after` names the text that must be the last one applied before this
  // one: the program sends the next lines before the answers of the last
  // ones have come, and a line whose predecessor did not arrive must not be
  // inserted without it.
  function deliver({session, seq, after, accessKey, text}) {
    const last = applied.get(session);
    if (seq <= (last ?? -Infinity)) return {ok: true, seq, duplicate: true};
    if (Number.isInteger(after) && after !== last) return {ok: false, reason: 'out-of-order'};
    const el = fieldFor(accessKey);
    if (!el) return {ok: false, reason: 'no-field'};
    insert(el, text.replace(/\r\n?/g, '\n'));
    applied.set(session, seq);
    return {ok: true, seq};
  }

  // A port to the background that lives as long as the page. When the
  // background restarts (an extension update, a stopped service worker) the
  // port closes and is opened again.
  function connect() {
    let port;
    try {
      port = api.runtime.connect({name: 'vt-page:' + doc});
    } catch (e) {
      return;  // the extension was removed: this page's script is orphaned
    }
    port.onMessage.addListener((msg) => {
      if (!msg || !Number.isInteger(msg.rid) || typeof msg.deliver !== 'object') return;
      port.postMessage({rid: msg.rid, result: deliver(msg.deliver)});
    });
    port.onDisconnect.addListener(() => {
      void api.runtime.lastError;
      setTimeout(connect, 200);
    });
  }
  connect();
})();
