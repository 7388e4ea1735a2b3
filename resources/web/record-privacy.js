// The recorder's page check. Evaluated once per document in the program's
// own script world (the page cannot see it or replace it), it defines
// window.VeltoRecord. Each video frame the recorder calls
// VeltoRecord.frame(selectors) and gets back, synchronously:
//   ok      true once the page was checked
//   host, path, title
//   vw, vh  the viewport's size in page pixels (the snapshot spans vw)
//   rects   areas to hide: {x, y, w, h, kind} in viewport page pixels
//   clicks  clicks since the last call: {t, x, y, text}
//   focus   fields that took the focus since the last call: {label, t}
// Event times are the page's wall clock in epoch milliseconds. Secrets never
// leave the page: no field's value is ever reported.
window.VeltoRecord = (function () {
  'use strict';

  var PAD = 2;             // page pixels around every hidden box
  var MAX_NODES = 40000;   // text nodes looked at per frame
  var MAX_TEXT = 20000;    // characters of one text node looked at
  var MAX_EVENTS = 200;    // events kept between two calls
  var CUT = 200;           // characters of a click's text

  // Identifiers hidden wherever the page shows them as text or in a field.
  var PATTERNS = [
    ['gstin', /\b[0-9]{2}[A-Z]{5}[0-9]{4}[A-Z][1-9A-Z]Z[0-9A-Z]\b/g],
    ['pan', /\b[A-Z]{5}[0-9]{4}[A-Z]\b/g],
    ['aadhaar', /(?<![0-9])[2-9][0-9]{3}[ -]?[0-9]{4}[ -]?[0-9]{4}(?![0-9])/g],
    ['mobile', /(?<![0-9])(\+?91[ -]?)?[6-9][0-9]{4}[ -]?[0-9]{5}(?![0-9])/g],
    ['email', /[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\.[A-Za-z]{2,}/g],
    ['ifsc', /\b[A-Z]{4}0[A-Z0-9]{6}\b/g]
  ];
  var ANY = new RegExp(PATTERNS.map(function (p) { return p[1].source; }).join('|'));

  // Fields whose name or label says what they hold.
  var OTP = /otp|one.?time|mfa|2fa|\bevc\b|auth.?code|verification.?code|ओटीपी/;
  var FIELD_KINDS = [
    ['pan', /\bpan\b|pan.?(no|number|card)|permanent.?account/],
    ['aadhaar', /aadha?a?r|\buid\b|\bvid\b|virtual.?id/],
    ['gstin', /gstin|\bgst.?(no|number|in)\b/],
    ['mobile', /mobile|phone|\bmob\b|\btel\b|contact.?(no|number)|whatsapp/],
    ['email', /e-?mail/],
    ['ifsc', /ifsc/],
    ['account', /account.?(no|number)|\bacc?t?.?no\b|bank.?account|\bcard.?(no|number)\b|\bcvv\b/],
    ['birth', /\bdob\b|date.?of.?birth|birth.?date/]
  ];

  var clicks = [];
  var focus = [];

  function attr(e, n) { var v = e.getAttribute && e.getAttribute(n); return v == null ? '' : String(v); }
  function tag(e) { return e && e.tagName ? e.tagName.toLowerCase() : ''; }
  function squeeze(s) { return String(s || '').replace(/\s+/g, ' ').trim(); }
  function cut(s, n) { var out = '', k = 0; for (var c of s) { if (k++ >= n) break; out += c; } return out; }

  function isField(e) {
    var t = tag(e);
    return t === 'input' || t === 'textarea' || t === 'select' || (e && e.isContentEditable === true);
  }

  // The words that name a field: its own attributes and its label, never its value.
  function labelOf(e) {
    var picks = [attr(e, 'aria-label'), attr(e, 'placeholder'), attr(e, 'title')];
    var by = attr(e, 'aria-labelledby');
    if (by) {
      var parts = by.split(/\s+/).map(function (id) {
        var l = e.ownerDocument.getElementById(id);
        return l ? l.textContent : '';
      });
      picks.unshift(parts.join(' '));
    }
    if (e.labels && e.labels.length) picks.unshift(e.labels[0].textContent);
    for (var i = 0; i < picks.length; i++) {
      var s = squeeze(picks[i]);
      if (s) return s;
    }
    return squeeze(attr(e, 'name') || attr(e, 'id'));
  }

  function fieldKind(e) {
    var t = tag(e);
    var type = attr(e, 'type').toLowerCase();
    if (t === 'input' && type === 'password') return 'password';
    var meta = [attr(e, 'name'), attr(e, 'id'), attr(e, 'placeholder'), attr(e, 'aria-label'),
                attr(e, 'autocomplete'), e.labels && e.labels.length ? e.labels[0].textContent : '']
      .join(' ').toLowerCase();
    if (OTP.test(meta) || attr(e, 'autocomplete') === 'one-time-code') return 'otp';
    if (t === 'input' && (type === 'email' || type === 'tel')) return type === 'email' ? 'email' : 'mobile';
    for (var i = 0; i < FIELD_KINDS.length; i++)
      if (FIELD_KINDS[i][1].test(meta)) return FIELD_KINDS[i][0];
    var value = typeof e.value === 'string' ? e.value : (e.isContentEditable ? e.textContent : '');
    if (value && value.length <= MAX_TEXT && ANY.test(value)) {
      for (var j = 0; j < PATTERNS.length; j++) {
        PATTERNS[j][1].lastIndex = 0;
        if (PATTERNS[j][1].test(value)) return PATTERNS[j][0];
      }
    }
    return '';
  }

  function shown(e, view) {
    var st = view.getComputedStyle(e);
    return st && st.display !== 'none' && st.visibility !== 'hidden';
  }

  // Adds a box (in the frame's own viewport pixels, offset by ox, oy into the
  // top viewport) when any of it is on screen.
  function push(out, r, ox, oy, kind) {
    if (!r || !(r.width > 0) || !(r.height > 0)) return;
    var x = r.left + ox - PAD, y = r.top + oy - PAD;
    var w = r.width + 2 * PAD, h = r.height + 2 * PAD;
    var vw = window.innerWidth, vh = window.innerHeight;
    if (x + w <= 0 || y + h <= 0 || x >= vw || y >= vh) return;
    out.push({ x: x, y: y, w: w, h: h, kind: kind });
  }

  function scanFields(doc, view, ox, oy, out) {
    var all = doc.querySelectorAll('input,textarea,select,[contenteditable]');
    for (var i = 0; i < all.length; i++) {
      var e = all[i];
      if (tag(e) === 'input' && /^(hidden|submit|button|reset|image|checkbox|radio|range|color|file)$/i.test(attr(e, 'type')))
        continue;
      var kind = fieldKind(e);
      if (!kind || !shown(e, view)) continue;
      push(out, e.getBoundingClientRect(), ox, oy, kind);
    }
  }

  function scanMarked(doc, selectors, ox, oy, out) {
    for (var i = 0; i < selectors.length; i++) {
      var found;
      try { found = doc.querySelectorAll(selectors[i]); } catch (x) { continue; }
      for (var j = 0; j < found.length; j++) {
        var rs = found[j].getClientRects();
        for (var k = 0; k < rs.length; k++) push(out, rs[k], ox, oy, 'marked');
      }
    }
  }

  // Identifiers written as text anywhere in the page: each match gets the
  // boxes of its own characters, so a table cell is covered, not its row.
  function scanText(doc, ox, oy, out, budget) {
    if (!doc.body) return;
    var walker = doc.createTreeWalker(doc.body, NodeFilter.SHOW_TEXT, {
      acceptNode: function (n) {
        var p = n.parentNode, t = tag(p);
        return t === 'script' || t === 'style' || t === 'noscript' || t === 'template'
          ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_ACCEPT;
      }
    });
    var range = doc.createRange();
    for (var n = walker.nextNode(); n && budget.nodes-- > 0; n = walker.nextNode()) {
      var s = n.data;
      if (s.length < 6) continue;
      if (s.length > MAX_TEXT) s = s.slice(0, MAX_TEXT);
      if (!ANY.test(s)) continue;
      for (var i = 0; i < PATTERNS.length; i++) {
        var re = PATTERNS[i][1], m;
        re.lastIndex = 0;
        while ((m = re.exec(s)) !== null) {
          if (m[0].length === 0) { re.lastIndex++; continue; }
          range.setStart(n, m.index);
          range.setEnd(n, m.index + m[0].length);
          var rs = range.getClientRects();
          for (var k = 0; k < rs.length; k++) push(out, rs[k], ox, oy, PATTERNS[i][0]);
        }
      }
    }
    range.detach && range.detach();
  }

  function scan(doc, view, selectors, ox, oy, out, budget, depth) {
    scanFields(doc, view, ox, oy, out);
    scanMarked(doc, selectors, ox, oy, out);
    scanText(doc, ox, oy, out, budget);
    if (depth > 3) return;
    // Frames of the same origin are looked into; others are left to the
    // recogniser, which sees the pixels.
    var frames = doc.querySelectorAll('iframe,frame');
    for (var i = 0; i < frames.length; i++) {
      var f = frames[i], inner;
      try { inner = f.contentDocument; } catch (x) { inner = null; }
      if (!inner || !f.contentWindow) continue;
      var r = f.getBoundingClientRect();
      var fx = ox + r.left + f.clientLeft, fy = oy + r.top + f.clientTop;
      scan(inner, f.contentWindow, selectors, fx, fy, out, budget, depth + 1);
    }
  }

  function keep(list, item) {
    if (list.length < MAX_EVENTS) list.push(item);
  }

  // The visible words of what was clicked; a field's value never.
  function clickText(target) {
    var e = target && target.nodeType === 1 ? target : target && target.parentElement;
    if (!e) return '';
    var act = e.closest('a,button,[role=button],[role=link],[role=tab],[role=menuitem],label,summary,option,input[type=submit],input[type=button],input[type=reset]') || e;
    var t = tag(act);
    if (t === 'input') {
      var type = attr(act, 'type').toLowerCase();
      return type === 'submit' || type === 'button' || type === 'reset' ? squeeze(act.value) : '';
    }
    if (isField(act)) return '';
    var words = squeeze(act.innerText || act.textContent || '') || squeeze(attr(act, 'aria-label')) || squeeze(attr(act, 'title'));
    if (words && ANY.test(words)) return '';
    return cut(words, CUT);
  }

  document.addEventListener('click', function (ev) {
    keep(clicks, { t: Date.now(), x: ev.clientX, y: ev.clientY, text: clickText(ev.target) });
  }, true);

  document.addEventListener('focusin', function (ev) {
    var e = ev.target;
    if (!isField(e)) return;
    keep(focus, { label: cut(labelOf(e), CUT), t: Date.now() });
  }, true);

  return {
    frame: function (selectors) {
      if (!Array.isArray(selectors)) selectors = [];
      selectors = selectors.filter(function (s) { return typeof s === 'string' && s; });
      var rects = [];
      scan(document, window, selectors, 0, 0, rects, { nodes: MAX_NODES }, 0);
      var reply = {
        ok: true,
        host: location.hostname,
        path: location.pathname,
        title: document.title,
        vw: window.innerWidth,
        vh: window.innerHeight,
        rects: rects,
        clicks: clicks,
        focus: focus
      };
      clicks = [];
      focus = [];
      return reply;
    }
  };
})();
