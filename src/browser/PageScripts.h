#pragma once
#include "platform/WebView.h"
#include <QString>

// The scripts the program runs in portal pages, and the shaping of their
// outcomes into one line of text.

// Any text as a double-quoted JavaScript string literal. Every piece of agent
// or CA text put into a page script goes through it.
QString jsQuote(const QString &text);

// Script helpers the page scripts share: cut(s, n) to n user-perceived
// characters, attr(e, name) as text; controls() for the visible controls in
// document order and numberControls(list) to give them their refs, so every
// script numbers a page the same way; byRef(ref) for the control a ref names
// while it is still in the document; visible(e); secret(e) for the fields whose values
// never leave the page, red(text) and redUrl(address) to hide those values
// wherever the page copies them.
QString pageHelpersJS();

// The document-start script (isolated world) that remembers every field
// that has ever been a password field, however the page changes it later.
QString secretWatchJS();

// The page-snapshot script: numbers the visible controls (r1, r2, ..., held
// in the isolated world, out of the page's reach) and yields the page as a JSON text with url, title, elements,
// text, total and fields. Brief mode (full = false) lists every actionable
// control and fewer links, with shorter labels and text. Secret fields never
// show their value.
QString snapshotJS(bool full = true);

// A script's outcome as the tools see it: a text result unchanged, nothing as
// the empty text, true as "1", numbers in decimal, other values as JSON; a
// failure as "ERROR: " + message, with " (line N)" when the line is known.
QString scriptOutcome(const WebView::ScriptResult &result);
