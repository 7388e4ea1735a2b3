// The recorder's page check. Evaluated once per document in the program's
// own script world (the page cannot see it or replace it), it defines
// window.VeltoRecord. Each video frame the recorder calls
// VeltoRecord.frame(selectors) and gets back, synchronously:
//   ok      true once the page was checked
//   host, path, title
//   vw, vh  the viewport's size in page pixels (the snapshot spans vw)
//   rects   areas to hide: {x, y, w, h, kind} in viewport page pixels
//   pixels  areas the page draws as pixels (canvases, images, embedded
//           documents and frames it cannot look into): {x, y, w, h}; their
//           text is found only by recognition, which reads each whole
//   clicks  clicks since the last call: {t, x, y, text}
//   focus   fields that took the focus since the last call: {label, t}
//   scroll  where the page and its scrolled boxes stand; VeltoRecord.scroll()
//           answers the same, so the recorder can tell whether the page moved
//           between this call and its picture of the view
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
    ['ifsc', /\b[A-Z]{4}0[A-Z0-9]{6}\b/g],
    // Bank account numbers: 9 to 18 digits, grouped by spaces or dashes, that
    // are not amounts. Last: a run wholly inside another kind's match is that kind.
    ['account', /(?<![0-9])(?<![0-9][.,])[0-9](?:[ -]?[0-9]){8,17}(?![0-9])(?![.,][0-9])/g]
  ];
  var ANY = new RegExp(PATTERNS.map(function (p) { return p[1].source; }).join('|'));

  // Words that name a bank account number, in English and Hindi ("khata"
  // is an account; Hindi has no \b).
  var ACCOUNT_LABEL = /account.?(no|num)|\bacc?t?.?no\b|\ba\/c\b|bank.?a\/?c|bank.?account|beneficiary.?account|\bcard.?(no|number)\b|\bcvv\b|खात[ाे]|अकाउंट/;

  // Fields whose name or label says what they hold.
  var OTP = /otp|one.?time|mfa|2fa|\bevc\b|auth.?code|verification.?code|ओटीपी/;
  var FIELD_KINDS = [
    ['pan', /\bpan\b|pan.?(no|number|card)|permanent.?account/],
    ['aadhaar', /aadha?a?r|\buid\b|\bvid\b|virtual.?id/],
    ['gstin', /gstin|\bgst.?(no|number|in)\b/],
    ['mobile', /mobile|phone|\bmob\b|\btel\b|contact.?(no|number)|whatsapp/],
    ['email', /e-?mail/],
    ['ifsc', /ifsc/],
    ['account', ACCOUNT_LABEL],
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
  // top viewport) when it is on screen, or was before this frame's scroll.
  function push(out, r, ox, oy, kind, node) {
    if (!r || !(r.width > 0) || !(r.height > 0)) return;
    var x = r.left + ox - PAD, y = r.top + oy - PAD;
    var w = r.width + 2 * PAD, h = r.height + 2 * PAD;
    // Far off screen, even at its place before a scroll: not needed.
    if (x + w <= -reach.x || y + h <= -reach.y || x >= window.innerWidth + reach.x ||
        y >= window.innerHeight + reach.y) return;
    out.push({ x: x, y: y, w: w, h: h, kind: kind, node: node });
  }

  // Boxes of which any part is on screen, without their nodes.
  function onScreen(list) {
    var vw = window.innerWidth, vh = window.innerHeight, out = [];
    for (var i = 0; i < list.length; i++) {
      var b = list[i];
      if (b.x + b.w <= 0 || b.y + b.h <= 0 || b.x >= vw || b.y >= vh) continue;
      out.push({ x: b.x, y: b.y, w: b.w, h: b.h, kind: b.kind });
    }
    return out;
  }

  // What scrolled since the previous frame call: the picture of the view
  // taken next may still show the content where it was, so every box that
  // moved is also given at its earlier place for this one frame.
  var lastScroll = { x: window.scrollX, y: window.scrollY };
  var scrollers = new Map(); // element -> its offsets at the previous call
  document.addEventListener('scroll', function (ev) {
    var e = ev.target;
    if (e && e.nodeType === 1 && !scrollers.has(e)) scrollers.set(e, null);
  }, true);

  var moves = [];
  var reach = { x: 0, y: 0 }; // how far any box moved since the previous call

  function findMoves() {
    moves = [];
    var dx = window.scrollX - lastScroll.x, dy = window.scrollY - lastScroll.y;
    if (dx || dy) moves.push({ el: null, dx: dx, dy: dy });
    lastScroll = { x: window.scrollX, y: window.scrollY };
    scrollers.forEach(function (was, e) {
      if (!e.isConnected) { scrollers.delete(e); return; }
      var now = { x: e.scrollLeft, y: e.scrollTop };
      if (was && (now.x !== was.x || now.y !== was.y)) moves.push({ el: e, dx: now.x - was.x, dy: now.y - was.y });
      scrollers.set(e, now);
    });
    reach = { x: 0, y: 0 };
    for (var i = 0; i < moves.length; i++) {
      reach.x = Math.max(reach.x, Math.abs(moves[i].dx));
      reach.y = Math.max(reach.y, Math.abs(moves[i].dy));
    }
  }

  function scrollSign() {
    var s = window.scrollX + ',' + window.scrollY;
    scrollers.forEach(function (was, e) { s += ';' + e.scrollLeft + ',' + e.scrollTop; });
    return s;
  }

  function withEarlierPlaces(list) {
    if (!moves.length) return list;
    var out = list.slice();
    for (var i = 0; i < list.length; i++) {
      var b = list[i];
      for (var j = 0; j < moves.length; j++) {
        var m = moves[j];
        if (m.el && !(b.node && m.el.contains(b.node))) continue;
        out.push({ x: b.x + m.dx, y: b.y + m.dy, w: b.w, h: b.h, kind: b.kind, node: b.node });
      }
    }
    return out;
  }

  function scanFields(doc, view, ox, oy, out) {
    var all = doc.querySelectorAll('input,textarea,select,[contenteditable]');
    for (var i = 0; i < all.length; i++) {
      var e = all[i];
      if (tag(e) === 'input' && /^(hidden|submit|button|reset|image|checkbox|radio|range|color|file)$/i.test(attr(e, 'type')))
        continue;
      var kind = fieldKind(e);
      if (!kind || !shown(e, view)) continue;
      push(out, e.getBoundingClientRect(), ox, oy, kind, e);
    }
  }

  function scanMarked(doc, selectors, ox, oy, out) {
    for (var i = 0; i < selectors.length; i++) {
      var found;
      try { found = doc.querySelectorAll(selectors[i]); } catch (x) { continue; }
      for (var j = 0; j < found.length; j++) {
        var rs = found[j].getClientRects();
        for (var k = 0; k < rs.length; k++) push(out, rs[k], ox, oy, 'marked', found[j]);
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
      var taken = [];
      for (var i = 0; i < PATTERNS.length; i++) {
        var re = PATTERNS[i][1], m, account = PATTERNS[i][0] === 'account';
        re.lastIndex = 0;
        while ((m = re.exec(s)) !== null) {
          if (m[0].length === 0) { re.lastIndex++; continue; }
          var a = m.index, b = m.index + m[0].length;
          if (account && taken.some(function (r) { return r[0] <= a && b <= r[1]; })) continue;
          if (!account) taken.push([a, b]);
          range.setStart(n, m.index);
          range.setEnd(n, m.index + m[0].length);
          var rs = range.getClientRects();
          for (var k = 0; k < rs.length; k++) push(out, rs[k], ox, oy, PATTERNS[i][0], n);
        }
      }
    }
    range.detach && range.detach();
  }

  function says(e, re) {
    var t = squeeze(e.textContent);
    return t.length > 0 && t.length <= 60 && re.test(t.toLowerCase());
  }

  // Table cells that hold a bank account number by their place: every cell
  // of a column whose header says so, and the cell after a row header that
  // says so. Whatever the cell shows (masked, partly shown, cut) is hidden.
  function scanTables(doc, ox, oy, out) {
    var tables = doc.querySelectorAll('table');
    var top = -reach.y - oy, bottom = window.innerHeight + reach.y - oy;
    for (var i = 0; i < tables.length; i++) {
      var t = tables[i], rows = t.rows, box = t.getBoundingClientRect();
      if (!rows || !rows.length || box.bottom < top || box.top > bottom) continue;
      // The header rows: those of thead, else the leading rows of th cells.
      var cols = {}, heads = 0;
      for (; heads < rows.length; heads++) {
        var hr = rows[heads], cells = hr.cells;
        var inHead = hr.parentNode && tag(hr.parentNode) === 'thead';
        if (!inHead && !(cells.length && Array.prototype.every.call(cells, function (c) { return tag(c) === 'th'; })))
          break;
        for (var c = 0, col = 0; c < cells.length; c++) {
          var span = Math.max(1, cells[c].colSpan || 1);
          if (says(cells[c], ACCOUNT_LABEL)) for (var k = 0; k < span; k++) cols[col + k] = true;
          col += span;
        }
      }
      for (var r = heads; r < rows.length; r++) {
        var row = rows[r], rb = row.getBoundingClientRect();
        if (rb.bottom < top || rb.top > bottom) continue;
        var cs = row.cells, next = false;
        for (var c2 = 0, col2 = 0; c2 < cs.length; c2++) {
          var cell = cs[c2], span2 = Math.max(1, cell.colSpan || 1), named = next && !!squeeze(cell.textContent);
          for (var k2 = 0; k2 < span2 && !named; k2++) if (cols[col2 + k2]) named = true;
          if (named) {
            push(out, cell.getBoundingClientRect(), ox, oy, 'account', cell);
            next = false;
          } else if (says(cell, ACCOUNT_LABEL)) {
            next = true;
          }
          col2 += span2;
        }
      }
    }
  }

  // Elements whose text is drawn as pixels, big enough to hold a value.
  function scanDrawn(doc, ox, oy, drawn) {
    var all = doc.querySelectorAll('canvas,img,video,embed,object,input[type=image]');
    for (var i = 0; i < all.length && drawn.length < MAX_EVENTS; i++) {
      var r = all[i].getBoundingClientRect();
      if (r.width >= 24 && r.height >= 8) push(drawn, r, ox, oy, 'pixels', all[i]);
    }
  }

  function scan(doc, view, selectors, ox, oy, out, budget, depth, drawn) {
    scanFields(doc, view, ox, oy, out);
    scanTables(doc, ox, oy, out);
    scanMarked(doc, selectors, ox, oy, out);
    scanText(doc, ox, oy, out, budget);
    scanDrawn(doc, ox, oy, drawn);
    // Frames of the same origin are looked into; others are left to the
    // recogniser, which sees the pixels.
    var frames = doc.querySelectorAll('iframe,frame');
    for (var i = 0; i < frames.length; i++) {
      var f = frames[i], inner;
      try { inner = f.contentDocument; } catch (x) { inner = null; }
      if (!inner || !f.contentWindow || depth > 3) {
        var fr = f.getBoundingClientRect();
        if (fr.width >= 24 && fr.height >= 8 && drawn.length < MAX_EVENTS) push(drawn, fr, ox, oy, 'pixels', f);
        continue;
      }
      var r = f.getBoundingClientRect();
      var fx = ox + r.left + f.clientLeft, fy = oy + r.top + f.clientTop;
      scan(inner, f.contentWindow, selectors, fx, fy, out, budget, depth + 1, drawn);
    }
  }

  function keep(list, item) {
    if (list.length < MAX_EVENTS) list.push(item);
  }

  // The visible words of what was clicked; a field's value never.
  function clickText(target) {
    var e = target && target.nodeType === 1 ? target : target && target.parentElement;
    if (!e) return '';
    // A click into a field is logged by its focus, under the field's label.
    if (isField(e) && !/^(submit|button|reset)$/i.test(attr(e, 'type'))) return '';
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
      var rects = [], drawn = [];
      findMoves();
      scan(document, window, selectors, 0, 0, rects, { nodes: MAX_NODES }, 0, drawn);
      var reply = {
        ok: true,
        host: location.hostname,
        path: location.pathname,
        title: document.title,
        vw: window.innerWidth,
        vh: window.innerHeight,
        rects: onScreen(withEarlierPlaces(rects)),
        pixels: onScreen(withEarlierPlaces(drawn)).map(function (b) { return { x: b.x, y: b.y, w: b.w, h: b.h }; }),
        clicks: clicks,
        focus: focus,
        scroll: scrollSign()
      };
      clicks = [];
      focus = [];
      return reply;
    },
    scroll: scrollSign
  };
})();
