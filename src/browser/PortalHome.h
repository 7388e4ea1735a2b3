#pragma once
#include <QString>
#include <vector>

// The page a new or emptied browser tab shows: the mark, a short note on how
// the browser works and links to the main portals. Built afresh at every read
// for the theme in force; both palettes are in the page, and the page's own
// window.__veltoSetTheme('dark' | anything else) switches between them
// without a reload. Loaded as HTML without a base address, so the tab's
// address is an "about:" one.
QString PORTAL_HOME();

// The links of the start page, in grid order.
struct PortalLink {
    const char *label;
    QString url;
};
const std::vector<PortalLink> &PORTAL_LINKS();
