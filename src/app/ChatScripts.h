#pragma once
#include <QString>

class WebView;

// The scripts that make the engine's own chat page look and behave like part
// of the app: the app's colours in the current scheme before the page draws,
// its fonts, mascot, wordmark and busy orbs, engine settings in the CA's
// words, links kept away from outside product sites, "working" and "home"
// reported to the app, and a live theme switch. Every text is built afresh
// from the theme in force when it is read.
namespace ChatScripts {

// Stores the scheme word and the engine's theme id in the page's storage.
QString themeLock();
// The CSS custom properties of the app's palette for one scheme / the current one.
QString chatPalette(bool dark);
QString chatPalette();
// The palette wrapped so it wins over any theme attribute or class of the root.
QString paletteBlock(bool dark);
// The document-start script: palette, early hiding and background, font faces.
QString chatEarly();
// The document-end script: live theme switch, styles, and the page tasks.
QString chatInjection();

// The compatibility script: supplies the script and style features the
// engine's page uses that an older web view lacks, each only when missing.
QString pageCompat();

// Replaces every user script of the chat view by the app's set, in order:
// the still mark, the compatibility script, the page-orb scripts (when
// bundled), the theme lock, the early script and the injection. Runs again on
// every theme or motion change.
void installChatScripts(WebView *chat);

// Marks the page's root with data-velto-still when motion is reduced, and
// clears the mark when not: the web view does not follow the desktop's
// setting, and the app's page marks and orbs keep still under that mark. A
// document-start script as well as a call on a page already shown.
QString stillCall();

// A document-start script that adds one style sheet as soon as the page has a
// root element (at document start it may have none yet).
QString earlyStyle(const QString &css);

// The call that switches an injected page to the theme in force.
QString liveThemeCall();
// The call that shows a status line on the splash page; the text travels as a
// properly escaped script string with its apostrophes made typographic.
QString statusCall(const QString &text);

} // namespace ChatScripts
