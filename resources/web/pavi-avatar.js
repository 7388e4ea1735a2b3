// <pavi-avatar>: Pavi, the app's mascot (a drop with two capsule eyes), for
// web pages, with a small motion for what the agent is doing.
//   state  "working" (a busy ring spins round it), "solving" (eyes up, a spark
//          circles), "searching" (eyes scan side to side), "composing" (eyes
//          blink as it writes), "shaping" (squash and stretch), "listening"
//          (a slow ripple); anything else: at rest, breathing
//   size   side in pixels (20 by default)
//   theme  "dark" or "light": a soft glow on dark pages
// At rest it breathes and blinks a few times and then keeps still. The other
// motions repeat while the state lasts, but stop when the page says it is
// idle (data-velto-idle on the root). Nothing moves with reduced motion,
// whether the system says so or the page (data-velto-still on the root).
// The drop is drawn in green: the chat page's style turns the element's own
// green into the app's royal blue with a hue rotation, so a page without that
// style still shows a complete mascot.
(function () {
  'use strict';
  if (!window.customElements || customElements.get('pavi-avatar')) return;

  var DROP = 'M50 11C63 11 87 45 87 62C87 80 70 91 50 91C30 91 13 80 13 62C13 45 37 11 50 11Z';
  var STATES = ['working', 'solving', 'searching', 'composing', 'shaping', 'listening'];

  var STYLE =
    ':host{display:inline-block;position:relative;width:var(--pavi-size,20px);height:var(--pavi-size,20px);flex:none;line-height:0}' +
    'svg{display:block;width:100%;height:100%;overflow:visible}' +
    '.body{transform-box:view-box;transform-origin:50px 91px;animation:pavi-breathe 3.4s ease-in-out 3}' +
    '.eyes{transform-box:view-box;transform-origin:50px 52px;animation:pavi-blink 4.6s 2}' +
    '.ring,.spark,.ripple{display:none;transform-box:view-box;transform-origin:50px 55px}' +
    '.ring{fill:none;stroke:#0AA783;stroke-width:7;stroke-linecap:round;stroke-dasharray:150 80}' +
    '.spark{fill:#4CCAAD}' +
    '.ripple{fill:none;stroke:#0AA783;stroke-width:4}' +
    ':host([theme=dark]) svg{filter:drop-shadow(0 0 4px rgba(10,167,131,.55))}' +
    ':host([state=working]) .ring{display:block;animation:pavi-spin 1.15s linear infinite}' +
    ':host([state=working]) .body{animation-duration:1.6s}' +
    ':host([state=solving]) .eyes{animation:pavi-up 2.4s ease-in-out infinite}' +
    ':host([state=solving]) .spark{display:block;animation:pavi-spin 1.6s linear infinite}' +
    ':host([state=searching]) .eyes{animation:pavi-scan 1.8s ease-in-out infinite}' +
    ':host([state=composing]) .eyes{animation:pavi-blink 1.2s infinite}' +
    ':host([state=composing]) .body{animation:pavi-nod 1.2s ease-in-out infinite}' +
    ':host([state=shaping]) .body{animation:pavi-squash .9s ease-in-out infinite}' +
    ':host([state=listening]) .ripple{display:block;animation:pavi-ripple 2s ease-out infinite}' +
    '@keyframes pavi-breathe{0%,100%{transform:scale(1)}50%{transform:scale(1.05)}}' +
    '@keyframes pavi-blink{0%,92%,100%{transform:scaleY(1)}95%{transform:scaleY(.12)}}' +
    '@keyframes pavi-spin{to{transform:rotate(360deg)}}' +
    '@keyframes pavi-up{0%,100%{transform:translateY(0)}50%{transform:translateY(-7px)}}' +
    '@keyframes pavi-scan{0%,100%{transform:translateX(-6px)}50%{transform:translateX(6px)}}' +
    '@keyframes pavi-nod{0%,100%{transform:rotate(-4deg)}50%{transform:rotate(4deg)}}' +
    '@keyframes pavi-squash{0%,100%{transform:scale(1,1)}50%{transform:scale(1.1,.88)}}' +
    '@keyframes pavi-ripple{0%{opacity:.8;transform:scale(.7)}100%{opacity:0;transform:scale(1.25)}}' +
    ':host-context([data-velto-idle]) .body,:host-context([data-velto-idle]) .eyes,' +
    ':host-context([data-velto-idle]) .ring,:host-context([data-velto-idle]) .spark,' +
    ':host-context([data-velto-idle]) .ripple{animation-iteration-count:1!important}' +
    ':host-context([data-velto-still]) .body,:host-context([data-velto-still]) .eyes,' +
    ':host-context([data-velto-still]) .ring,:host-context([data-velto-still]) .spark,' +
    ':host-context([data-velto-still]) .ripple{animation:none!important}' +
    '@media (prefers-reduced-motion: reduce){.body,.eyes,.ring,.spark,.ripple{animation:none!important}}';

  var count = 0;
  function drawing(uid) {
    return '<svg viewBox="0 0 100 100" aria-hidden="true">' +
      '<defs>' +
      '<linearGradient id="' + uid + 'g" x1="0" y1="0" x2="0" y2="1">' +
      '<stop offset="0" stop-color="#0AA783"/><stop offset="1" stop-color="#006B50"/></linearGradient>' +
      '<radialGradient id="' + uid + 'h" cx=".32" cy=".26" r=".42">' +
      '<stop offset="0" stop-color="#fff" stop-opacity=".6"/><stop offset="1" stop-color="#fff" stop-opacity="0"/></radialGradient>' +
      '</defs>' +
      '<circle class="ripple" cx="50" cy="55" r="44"/>' +
      '<circle class="ring" cx="50" cy="55" r="47"/>' +
      '<g class="body">' +
      '<path d="' + DROP + '" fill="url(#' + uid + 'g)"/>' +
      '<path d="' + DROP + '" fill="url(#' + uid + 'h)"/>' +
      '<g class="eyes">' +
      '<rect x="35.5" y="44" width="9" height="16" rx="4.5" fill="#fff"/>' +
      '<rect x="55.5" y="44" width="9" height="16" rx="4.5" fill="#fff"/>' +
      '</g></g>' +
      '<circle class="spark" cx="50" cy="4" r="6"/>' +
      '</svg>';
  }

  class PaviAvatar extends HTMLElement {
    static get observedAttributes() { return ['size', 'state', 'theme']; }
    constructor() {
      super();
      var root = this.attachShadow({ mode: 'open' });
      root.innerHTML = '<style>' + STYLE + '</style>' + drawing('pavi' + (++count));
    }
    connectedCallback() {
      if (!this.hasAttribute('role')) this.setAttribute('role', 'img');
      this.update();
    }
    attributeChangedCallback() { this.update(); }
    update() {
      var size = parseFloat(this.getAttribute('size'));
      if (size > 0) this.style.setProperty('--pavi-size', size + 'px');
      else this.style.removeProperty('--pavi-size');
      var state = this.getAttribute('state');
      this.setAttribute('aria-label', STATES.indexOf(state) >= 0 ? 'Velto is ' + state : 'Velto');
    }
  }
  customElements.define('pavi-avatar', PaviAvatar);
})();
