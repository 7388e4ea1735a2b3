#pragma once
#include "platform/WebView.h"
#include <QString>

// The scripts the program runs in portal pages, and the shaping of their
// outcomes into one line of text.

// Any text as a double-quoted JavaScript string literal. Every piece of agent
// or CA text put into a page script goes through it.
QString jsQuote(const QString &text);

// Script helpers the page scripts share: cut(s, n) to n user-perceived
// characters, attr(e, name) as text, and secret(e) for password fields and
// one-time-code boxes, whose values never leave the page.
QString pageHelpersJS();

// The page-snapshot script: numbers the visible controls (data-velto-ref =
// r1, r2, ...) and yields the page as a JSON text with url, title, elements,
// text, total and fields. Brief mode (full = false) lists every actionable
// control and fewer links, with shorter labels and text. Secret fields never
// show their value.
QString snapshotJS(bool full = true);

// A script's outcome as the tools see it: a text result unchanged, nothing as
// the empty text, true as "1", numbers in decimal, other values as JSON; a
// failure as "ERROR: " + message, with " (line N)" when the line is known.
QString scriptOutcome(const WebView::ScriptResult &result);
