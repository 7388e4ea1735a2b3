// Runs at document start in the engine's chat page, before any of its own
// scripts. The page is written for current browsers; the web view we ship
// may be older. Each piece below adds one missing feature, and only when a
// feature test shows it missing, so a newer web view runs the page untouched.
(function () {
  'use strict';
  if (window.__veltoCompat) return;
  window.__veltoCompat = true;

  function define(target, name, value) {
    if (!target || name in target) return;
    Object.defineProperty(target, name, { value: value, writable: true, configurable: true, enumerable: false });
  }
  function toIndex(length, index) {
    var i = Math.trunc(Number(index)) || 0;
    return i < 0 ? length + i : i;
  }

  // AbortSignal.timeout: the page bounds its health check with it; without
  // it the check throws and the page picks the wrong set of server paths.
  define(window.AbortSignal, 'timeout', function (ms) {
    var controller = new AbortController();
    setTimeout(function () {
      controller.abort(new DOMException('signal timed out', 'TimeoutError'));
    }, Number(ms) || 0);
    return controller.signal;
  });

  // Array methods that answer a changed copy and leave the array alone.
  var A = Array.prototype;
  define(A, 'toReversed', function () { return A.slice.call(this).reverse(); });
  define(A, 'toSorted', function (compare) {
    if (compare !== undefined && typeof compare !== 'function') throw new TypeError('comparator must be a function');
    return A.slice.call(this).sort(compare);
  });
  define(A, 'toSpliced', function () {
    var copy = A.slice.call(this);
    A.splice.apply(copy, arguments);
    return copy;
  });
  define(A, 'with', function (index, value) {
    var copy = A.slice.call(this);
    var i = toIndex(copy.length, index);
    if (i < 0 || i >= copy.length) throw new RangeError('Invalid index : ' + index);
    copy[i] = value;
    return copy;
  });

  // Promise.withResolvers: a promise with its resolve and reject at hand.
  define(Promise, 'withResolvers', function () {
    var out = {};
    out.promise = new this(function (resolve, reject) { out.resolve = resolve; out.reject = reject; });
    return out;
  });

  // Map.groupBy and Object.groupBy: items grouped by the key a callback gives.
  function groupInto(items, callback, add) {
    var i = 0;
    for (var item of items) add(callback(item, i++), item);
  }
  define(Map, 'groupBy', function (items, callback) {
    var groups = new Map();
    groupInto(items, callback, function (key, item) {
      if (!groups.has(key)) groups.set(key, []);
      groups.get(key).push(item);
    });
    return groups;
  });
  define(Object, 'groupBy', function (items, callback) {
    var groups = Object.create(null);
    groupInto(items, callback, function (key, item) {
      key = typeof key === 'symbol' ? key : String(key);
      (groups[key] || (groups[key] = [])).push(item);
    });
    return groups;
  });

  // URL.canParse: whether an address parses, without the exception.
  define(window.URL, 'canParse', function (url, base) {
    try { new URL(url, base); return true; } catch (e) { return false; }
  });

  // Dynamic viewport heights (dvh, svh, lvh). An engine without them drops
  // every declaration that uses them, so the page's root gets no height and
  // its main area is drawn 0 px tall. For each style sheet of the page that
  // uses them, a companion sheet right after it repeats just those
  // declarations in vh, inside the same rules, media queries and layers.
  if (!window.CSS || !CSS.supports || CSS.supports('height', '100dvh')) return;

  var UNITS = /(\d|\.)[dsl]vh\b/;
  var UNITS_ALL = /(\d|\.)[dsl]vh\b/g;

  // The rules of a sheet's text whose declarations use the units, each inside
  // its enclosing blocks, with only those declarations, rewritten to vh.
  function viewportRules(text) {
    var out = '';
    var stack = [];
    var start = 0;
    for (var i = 0; i < text.length; i++) {
      var c = text[i];
      if (c === '/' && text[i + 1] === '*') {
        var end = text.indexOf('*/', i + 2);
        i = end < 0 ? text.length : end + 1;
      } else if (c === '"' || c === "'") {
        var close = text.indexOf(c, i + 1);
        i = close < 0 ? text.length : close;
      } else if (c === '{') {
        stack.push({ prelude: text.slice(start, i).trim(), body: i + 1 });
        start = i + 1;
      } else if (c === '}') {
        var block = stack.pop();
        if (block) {
          var body = text.slice(block.body, i);
          // Keyframes are left alone: a second block of the same name
          // would replace the whole animation.
          var inKeyframes = stack.some(function (b) { return /^@(-webkit-)?keyframes/i.test(b.prelude); });
          if (body.indexOf('{') < 0 && UNITS.test(body) && !inKeyframes) {
            var decls = body.split(';').filter(function (d) { return UNITS.test(d); });
            var rule = block.prelude + '{' + decls.join(';').replace(UNITS_ALL, '$1vh') + '}';
            for (var k = stack.length - 1; k >= 0; k--) rule = stack[k].prelude + '{' + rule + '}';
            out += rule + '\n';
          }
        }
        start = i + 1;
      } else if (c === ';') {
        start = i + 1;
      }
    }
    return out;
  }

  function addCompanion(after, text) {
    var rules = viewportRules(text);
    if (!rules || !after.parentNode) return;
    var style = document.createElement('style');
    style.setAttribute('data-velto-compat', 'viewport');
    style.textContent = rules;
    after.parentNode.insertBefore(style, after.nextSibling);
  }

  var seen = new WeakSet();
  function visit(node) {
    if (!node || node.nodeType !== 1 || seen.has(node)) return;
    if (node.tagName === 'STYLE' && !node.hasAttribute('data-velto-compat')) {
      seen.add(node);
      // A style element's text may still be arriving; read it once parsed.
      setTimeout(function () { addCompanion(node, node.textContent || ''); }, 0);
    } else if (node.tagName === 'LINK' && /(^|\s)stylesheet(\s|$)/i.test(node.rel || '') && node.href) {
      seen.add(node);
      var href = node.href;
      if (new URL(href, location.href).origin !== location.origin) return;
      fetch(href, { credentials: 'same-origin' })
        .then(function (r) { return r.ok ? r.text() : ''; })
        .then(function (text) { addCompanion(node, text); })
        .catch(function () {});
    }
  }

  new MutationObserver(function (records) {
    records.forEach(function (record) {
      record.addedNodes.forEach(function (node) {
        visit(node);
        if (node.querySelectorAll) node.querySelectorAll('style,link').forEach(visit);
      });
    });
  }).observe(document, { childList: true, subtree: true });
  if (document.documentElement) document.documentElement.querySelectorAll('style,link').forEach(visit);
})();
