#include "browser/PortalHome.h"
#include "core/Globals.h"
#include "ui/Theme.h"

#include <QStringList>
#include <QUrl>

const std::vector<PortalLink> &PORTAL_LINKS()
{
    static const std::vector<PortalLink> links = {
        {"GST portal", QStringLiteral("https://services.gst.gov.in/services/login")},
        {"Income Tax", QStringLiteral("https://eportal.incometax.gov.in/iec/foservices/#/login")},
        {"MCA", QStringLiteral("https://www.mca.gov.in/mcafoportal/login.do")},
        {"TRACES", QStringLiteral("https://www.tdscpc.gov.in/app/login.xhtml")},
        {"EPFO", QStringLiteral("https://unifiedportal-emp.epfindia.gov.in/epfo/")},
        {"ESIC", QStringLiteral("https://www.esic.gov.in/")},
        {"e-Way Bill", QStringLiteral("https://ewaybillgst.gov.in/")},
        // The maker's own site sits on the cloud service's built-in host,
        // whatever VELTO_API points at.
        {"Hallix", QStringLiteral("https://") + QUrl(BUILTIN_API).host() + QStringLiteral("/ca/cli")},
    };
    return links;
}

namespace {

// One palette as CSS variables, for the scheme in force.
QString paletteVars()
{
    using namespace Theme;
    const QStringList vars = {
        QStringLiteral("--bg:") + css(bg()),
        QStringLiteral("--surface:") + css(surface()),
        QStringLiteral("--ink:") + css(ink()),
        QStringLiteral("--ink2:") + css(ink2()),
        QStringLiteral("--muted:") + css(muted()),
        QStringLiteral("--line:") + css(Theme::line()),
        QStringLiteral("--line2:") + css(line2()),
        QStringLiteral("--royal:") + css(royal()),
        QStringLiteral("--royal-soft:") + css(royalSoft()),
        QStringLiteral("color-scheme:") + (isDark() ? QStringLiteral("dark") : QStringLiteral("light")),
    };
    return vars.join(QLatin1Char(';'));
}

const char *const kPageStyle = R"CSS(
body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;background:var(--bg);font-family:Ubuntu,-apple-system,system-ui,"Segoe UI",sans-serif;color:var(--ink2);-webkit-font-smoothing:antialiased;transition:background .5s cubic-bezier(.22,1,.36,1),color .5s cubic-bezier(.22,1,.36,1)}
.wrap{text-align:center;max-width:640px;padding:32px}
.mark{width:72px;height:72px;margin:0 auto;filter:drop-shadow(0 10px 24px rgba(50,87,224,.35))}
h1{color:var(--ink);font-size:24px;font-weight:700;letter-spacing:-.02em;margin:20px 0 8px}
h1 i{font-style:normal;color:var(--royal)}
p{font-size:13px;line-height:1.7;margin:0 auto 18px;max-width:560px;color:var(--muted)}
.grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(132px,1fr));gap:10px;margin-top:22px}
a{display:flex;align-items:center;justify-content:center;height:48px;padding:0 12px;border:1px solid var(--line);border-radius:14px;color:var(--ink);text-decoration:none;font-size:13px;font-weight:500;background:var(--surface);transition:border-color .3s,color .3s,transform .3s,background .3s}
a:hover{border-color:var(--royal);color:var(--royal);background:var(--royal-soft);transform:translateY(-2px)}
a:focus-visible{outline:2px solid var(--royal);outline-offset:2px}
@media (prefers-reduced-motion: reduce){a,body{transition:none}a:hover{transform:none}}
)CSS";

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

QString PORTAL_HOME()
{
    const QString light = Theme::tokens(false, [] { return paletteVars(); });
    const QString dark = Theme::tokens(true, [] { return paletteVars(); });

    QString grid;
    for (const PortalLink &link : PORTAL_LINKS())
        grid += QStringLiteral("<a href=\"") + escaped(link.url) + QStringLiteral("\">") +
                escaped(QString::fromUtf8(link.label)) + QStringLiteral("</a>");

    QString page;
    page += QStringLiteral("<!doctype html><html data-theme=\"") +
            (Theme::isDark() ? QStringLiteral("dark") : QStringLiteral("light")) + QStringLiteral("\"") +
            // The web view doesn't follow the desktop's motion setting.
            (Theme::reduceMotion() ? QStringLiteral(" data-velto-still") : QString()) + QStringLiteral("><head>");
    page += QStringLiteral("<meta charset=\"utf-8\"><title>Velto Browser</title><style>");
    page += Theme::chatFontFaceCSS() + QLatin1Char('\n');
    page += Theme::mascotCSS();
    page += QStringLiteral("\n:root{") + light + QStringLiteral("}\n:root[data-theme=\"dark\"]{") + dark +
            QStringLiteral("}");
    page += QString::fromUtf8(kPageStyle);
    page += QStringLiteral("</style></head><body><div class=\"wrap\"><div class=\"mark\">");
    page += Theme::mascotSVG(QStringLiteral("sp"), true);
    page += QStringLiteral("</div><h1>Vel<i>to</i> Browser</h1><p>"
                           "Sign in to the portals here, once — the sessions stay for next time. Open as many tabs "
                           "as you like;\n"
                           "Velto works in these same tabs so you can watch every step. It takes the job all the "
                           "way: the one\n"
                           "click that cannot be undone asks you for a tap first, and an OTP you type yourself.</p>");
    page += QStringLiteral("<div class=\"grid\">") + grid + QStringLiteral("</div></div>");
    page += QStringLiteral("<script>window.__veltoSetTheme=function(t){document.documentElement.setAttribute("
                           "'data-theme',t==='dark'?'dark':'light');};</script>");
    page += QStringLiteral("</body></html>");
    return page;
}
