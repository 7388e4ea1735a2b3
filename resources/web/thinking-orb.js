// <thinking-orb>: the app's busy orb for web pages, drawn as the app draws it
// in its own windows: two open rings round a dot. With the "busy" attribute
// the rings spin (the inner one the other way) and the dot pulses; without it
// the orb rests, faint. "size" is the side in pixels (16 by default). The
// colour is the page's --vo-royal when it has one, else the app's royal blue.
// Nothing moves with reduced motion, whether the system says so or the page
// (data-velto-still on the root).
(function () {
  'use strict';
  // Pages where custom elements cannot be defined (an isolated script world)
  // keep their own spinners.
  if (!window.customElements || customElements.get('thinking-orb')) return;

  var STYLE =
    ':host{display:inline-block;position:relative;vertical-align:-3px;width:var(--orb-size,16px);height:var(--orb-size,16px);flex:none}' +
    'svg{display:block;width:100%;height:100%;overflow:visible}' +
    '.ring,.ring2{fill:none;stroke:var(--vo-royal,#3257E0);stroke-linecap:round;transform-box:view-box;transform-origin:50% 50%}' +
    '.ring{stroke-width:2.2;stroke-dasharray:44 19;opacity:.22}' +
    '.ring2{stroke-width:1.8;stroke-dasharray:26 12;opacity:.16}' +
    '.core{fill:var(--vo-royal,#3257E0);opacity:.3;transform-box:view-box;transform-origin:50% 50%}' +
    ':host([busy]) .ring{opacity:.95;animation:orb-spin 1.15s linear infinite}' +
    ':host([busy]) .ring2{opacity:.6;animation:orb-spin .9s linear infinite reverse}' +
    ':host([busy]) .core{opacity:1;animation:orb-pulse 1.1s ease-in-out infinite}' +
    ':host([busy]) svg{filter:drop-shadow(0 0 3px rgba(50,87,224,.45))}' +
    '@keyframes orb-spin{to{transform:rotate(360deg)}}' +
    '@keyframes orb-pulse{0%,100%{opacity:.45;transform:scale(.86)}50%{opacity:1;transform:scale(1)}}' +
    ':host-context([data-velto-still]) .ring,:host-context([data-velto-still]) .ring2,' +
    ':host-context([data-velto-still]) .core{animation:none!important}' +
    '@media (prefers-reduced-motion: reduce){.ring,.ring2,.core{animation:none!important}}';

  var DRAWING =
    '<svg viewBox="0 0 24 24" aria-hidden="true">' +
    '<circle class="ring" cx="12" cy="12" r="10"/>' +
    '<circle class="ring2" cx="12" cy="12" r="6.2"/>' +
    '<circle class="core" cx="12" cy="12" r="2.8"/>' +
    '</svg>';

  class ThinkingOrb extends HTMLElement {
    static get observedAttributes() { return ['size']; }
    constructor() {
      super();
      var root = this.attachShadow({ mode: 'open' });
      root.innerHTML = '<style>' + STYLE + '</style>' + DRAWING;
    }
    connectedCallback() { this.resize(); }
    attributeChangedCallback() { this.resize(); }
    resize() {
      var size = parseFloat(this.getAttribute('size'));
      if (size > 0) this.style.setProperty('--orb-size', size + 'px');
      else this.style.removeProperty('--orb-size');
    }
  }
  customElements.define('thinking-orb', ThinkingOrb);
})();
