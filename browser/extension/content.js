// Lives in every http/https page and inserts text into its order form when
// the background asks. It looks at nothing but the element that takes the
// text, and never writes anywhere else.
'use strict';

(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  // The highest sequence number applied per program run: a request the
  // program retries after a lost answer is acknowledged, not inserted again.
  const applied = new Map();

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

  function insert(el, text) {
    el.focus();
    // Like a paste: at the caret, with the page's input events and its undo.
    if (document.activeElement === el && document.execCommand('insertText', false, text)) return;
    if (typeof el.setRangeText === 'function' && el.selectionStart !== null) {
      el.setRangeText(text, el.selectionStart, el.selectionEnd, 'end');
    } else if ('value' in el) {
      el.value += text;
    } else {
      el.append(text);
    }
    el.dispatchEvent(new InputEvent('input', {bubbles: true, inputType: 'insertFromPaste', data: text}));
  }

  function deliver({session, seq, accessKey, text}) {
    if (seq <= (applied.get(session) ?? -Infinity)) return {ok: true, seq, duplicate: true};
    const el = fieldFor(accessKey);
    if (!el) return {ok: false, reason: 'no-field'};
    insert(el, text.replace(/\r\n?/g, '\n'));
    applied.set(session, seq);
    return {ok: true, seq};
  }

  api.runtime.onMessage.addListener((msg, sender, sendResponse) => {
    if (sender.id !== api.runtime.id || !msg || typeof msg.vtDeliver !== 'object') return false;
    sendResponse(deliver(msg.vtDeliver));
    return false;
  });
})();
