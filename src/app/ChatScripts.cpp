#include "app/ChatScripts.h"
#include "browser/BrowserTab.h"
#include "browser/PageScripts.h"
#include "platform/WebView.h"
#include "ui/Theme.h"

#include <QFile>
#include <QStringList>
#include <utility>
#include <vector>

namespace ChatScripts {

namespace {

using Decl = std::pair<const char *, QString>;

QString rows(const std::vector<std::vector<Decl>> &table)
{
    QString out;
    for (const auto &row : table) {
        for (const auto &d : row)
            out += QLatin1String(d.first) + QLatin1Char(':') + d.second + QLatin1Char(';');
        out += QLatin1Char('\n');
    }
    return out;
}

QString buildPalette()
{
    using namespace Theme;
    const bool dark = isDark();
    const QString surface = css(Theme::surface()), surface2 = css(Theme::surface2());
    const QString bg = css(Theme::bg()), bg2 = css(Theme::bg2());
    const QString hover = css(Theme::hover()), selected = css(Theme::selected());
    const QString ink = css(Theme::ink()), ink2 = css(Theme::ink2()), muted = css(Theme::muted());
    const QString line = css(Theme::line()), line2 = css(Theme::line2());
    const QString royal = css(Theme::royal()), royal2 = css(Theme::royal2());
    const QString seal = css(Theme::seal()), stamp = css(Theme::stamp()), amber = css(Theme::amber());
    const QString tint = css(hex(dark ? 0xFFFFFF : 0x0E1220, 0.08));
    QColor faintColor = Theme::muted();
    faintColor.setAlphaF(0.7);
    const QString faint = css(faintColor);
    QColor focusColor = Theme::royal();
    focusColor.setAlphaF(0.25);
    const QString focus = css(focusColor);
    const QString shadow = QStringLiteral("0 0 0 1px ") + line2 +
                           (dark ? QStringLiteral(", 0 8px 24px rgba(0,0,0,.35)")
                                 : QStringLiteral(", 0 6px 20px rgba(14,18,32,.06)"));
    const QString white = QStringLiteral("#FFFFFF");

    return rows({
        {{"--background-base", surface}, {"--background-strong", surface}, {"--background-stronger", surface},
         {"--background-weak", surface2}},
        {{"--surface-base", hover}, {"--surface-base-hover", tint}, {"--surface-base-active", selected},
         {"--surface-hover", tint}},
        {{"--surface-weak", surface2}, {"--surface-strong", bg2}, {"--surface-float-base", surface},
         {"--surface-float-base-hover", surface2}},
        {{"--surface-raised-base", surface2}, {"--surface-raised-base-hover", bg2},
         {"--surface-raised-base-active", selected}},
        {{"--surface-raised-stronger-non-alpha", surface}, {"--surface-stronger-non-alpha", surface},
         {"--surface-inset-base", bg2}},
        {{"--surface-interactive-weak", selected}, {"--surface-interactive-hover", selected}},
        {{"--text-stronger", ink}, {"--text-strong", ink}, {"--text-base", ink2}, {"--text-weak", muted},
         {"--text-weaker", faint}},
        {{"--text-interactive-base", royal}, {"--text-on-interactive-base", white}, {"--text-invert-strong", bg},
         {"--text-invert-base", bg2}},
        {{"--icon-strong-base", ink}, {"--icon-base", ink2}, {"--icon-weak-base", muted}, {"--icon-weak", muted},
         {"--icon-weaker", muted}},
        {{"--icon-hover", ink}, {"--icon-active", royal}, {"--icon-strong-hover", ink}, {"--icon-strong-active", royal}},
        {{"--icon-interactive-base", royal}, {"--icon-on-interactive-base", white}, {"--icon-invert-base", bg}},
        {{"--icon-success-base", seal}, {"--icon-critical-base", stamp}, {"--icon-warning-base", amber}},
        {{"--border", line}, {"--border-base", line}, {"--border-color", line}, {"--border-weak-base", line},
         {"--border-weaker-base", line}},
        {{"--border-strong-base", line2}, {"--border-hover", line2}, {"--border-active", line2}},
        {{"--border-focus", royal}, {"--border-selected", royal}, {"--border-weak-selected", royal}},
        {{"--border-interactive-base", royal}, {"--border-interactive-focus", royal}},
        {{"--button-primary-base", royal}, {"--button-secondary-base", surface2}, {"--button-secondary-hover", bg2}},
        {{"--input-base", surface2}, {"--shadow-xs-border", shadow}},
        {{"--accent", royal}, {"--accent-foreground", white}},
        {{"--v2-background-bg-base", surface}, {"--v2-background-bg-deep", bg2},
         {"--v2-background-bg-layer-01", surface2}},
        {{"--v2-background-bg-layer-02", bg2}, {"--v2-background-bg-layer-03", bg2},
         {"--v2-background-bg-button-neutral", surface2}},
        {{"--v2-background-bg-contrast", ink}, {"--v2-background-bg-accent", royal}},
        {{"--v2-text-text-base", ink}, {"--v2-text-text-muted", ink2}, {"--v2-text-text-faint", muted}},
        {{"--v2-text-text-accent", royal}, {"--v2-text-text-contrast", bg}},
        {{"--v2-icon-icon-base", ink2}, {"--v2-icon-icon-muted", muted}, {"--v2-icon-icon-accent", royal}},
        {{"--v2-border-border-base", line2}, {"--v2-border-border-muted", line}, {"--v2-border-border-strong", line2},
         {"--v2-border-border-focus", royal}},
        {{"--v2-state-fg-danger", stamp}, {"--v2-state-fg-success", seal}, {"--v2-state-fg-warning", amber}},
        {{"--vo-bg", bg}, {"--vo-surface", surface}, {"--vo-surface2", surface2}, {"--vo-ink", ink},
         {"--vo-muted", muted}},
        {{"--vo-line", line}, {"--vo-line2", line2}, {"--vo-royal", royal}, {"--vo-royal2", royal2},
         {"--vo-focus", focus}},
    });
}

// The injected style sheet, around the mascot's own rules.
const char *kStyleHead = R"CSS(@keyframes velto-spin{to{transform:rotate(360deg)}}
@keyframes velto-pulse{0%,100%{opacity:.45;transform:scale(.86)}50%{opacity:1;transform:scale(1)}}
.velto-orb{position:relative;width:var(--s,16px);height:var(--s,16px);border-radius:50%;border:1.5px solid var(--vo-royal);border-right-color:transparent;border-bottom-color:var(--vo-focus);animation:velto-spin 1.15s linear infinite;box-shadow:0 0 12px var(--vo-focus);display:inline-block;vertical-align:-3px}
.velto-orb::after{content:'';position:absolute;inset:4px;border-radius:50%;background:var(--vo-royal);animation:velto-pulse 1.1s ease-in-out infinite}
[data-velto-still] .velto-orb,[data-velto-still] .velto-orb::after{animation:none}
[data-velto-busy] svg.animate-spin,[data-velto-busy] .animate-spin{display:none!important}
[aria-label="Home"][data-component]{display:none!important}
.velto-thinking{display:inline-flex;align-items:center;gap:8px;color:var(--vo-royal);font-size:12px}
pavi-avatar{vertical-align:-4px;filter:hue-rotate(72deg) saturate(1.2) brightness(.9)}
)CSS";

const char *kStyleTail = R"CSS(
.velto-wordmark{display:flex;align-items:center;justify-content:center;gap:20px;width:100%}
.velto-wordmark .vo-mark{width:104px;height:104px;flex:none;filter:drop-shadow(0 12px 28px rgba(50,87,224,.32))}
.velto-name{font:700 clamp(40px,9vw,76px)/1 Ubuntu,-apple-system,"Segoe UI",sans-serif;letter-spacing:-.03em;color:var(--vo-ink)}
.velto-name i{font-style:normal;color:var(--vo-royal)}
html,body{font-family:'Ubuntu',-apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif!important}
:root{--font-family-sans:'Ubuntu',-apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif!important;--font-family-mono:'Ubuntu Mono',ui-monospace,SFMono-Regular,Menlo,monospace!important}
code,kbd,samp,pre{font-family:'Ubuntu Mono',ui-monospace,SFMono-Regular,Menlo,monospace!important}
::selection{background:var(--vo-royal);color:#fff}
[data-component=user-message] [data-slot=user-message-text]{background:linear-gradient(180deg,#4A6EF0,#2340B8)!important;color:#fff!important;border-radius:18px 18px 6px 18px!important;padding:9px 14px!important}
[data-component=user-message] [data-slot=user-message-text] [data-highlight]{color:#fff!important;text-decoration:underline;text-underline-offset:2px}
[data-dock-surface=shell]{border-radius:14px!important;transition:box-shadow .3s cubic-bezier(.22,1,.36,1)}
[data-dock-surface=shell]:focus-within{box-shadow:0 0 0 1px var(--vo-royal),0 0 0 4px var(--vo-focus)!important}
[data-dock-surface=tray]{border-radius:14px!important}
[data-component=input] [data-slot=input-wrapper]{border-radius:12px!important}
[data-component=input] [data-slot=input-wrapper]:focus-within{border-color:var(--vo-royal)!important;box-shadow:0 0 0 3px var(--vo-focus)}
input:focus-visible,textarea:focus-visible,button:focus-visible,[role=tab]:focus-visible{outline:2px solid var(--vo-focus);outline-offset:1px}
pre,[data-component=markdown-code] .shiki,[data-component=code] pre{background:var(--vo-surface2)!important}
[data-component=markdown-code] pre,[data-component=markdown-code] .shiki{border:1px solid var(--vo-line);border-radius:10px}
:not(pre)>code{background:var(--vo-surface2);border:1px solid var(--vo-line);border-radius:6px;padding:0 .3em}
::-webkit-scrollbar{width:10px;height:10px}
::-webkit-scrollbar-track{background:transparent}
::-webkit-scrollbar-thumb{background:var(--vo-line2);border-radius:10px;border:3px solid transparent;background-clip:content-box}
::-webkit-scrollbar-thumb:hover{background:var(--vo-muted);border:3px solid transparent;background-clip:content-box}
@media (prefers-reduced-motion: reduce){[data-dock-surface=shell]{transition:none}}
)CSS";

// The seven page tasks, run every 450 ms. %1 palettes, %2 scheme, %3 style,
// %4 font faces, %5 wordmark markup.
const char *kInjection = R"JS((function(){
if(window.__velto)return;window.__velto=true;window.__veltoTheme=%2;
var P=%1;
var pal=document.getElementById('velto-palette');
if(!pal){pal=document.createElement('style');pal.id='velto-palette';}
pal.textContent=P[window.__veltoTheme]||P.light;
window.__veltoSetTheme=function(t){t=(t==='dark')?'dark':'light';window.__veltoTheme=t;
try{localStorage.setItem('velto-color-scheme',t);localStorage.setItem('opencode-color-scheme',t);}catch(e){}
pal.textContent=P[t];var r=document.documentElement;r.dataset.colorScheme=t;r.style.colorScheme=t;r.style.backgroundColor='';
if(r.classList.contains('dark')||r.classList.contains('light')){r.classList.toggle('dark',t==='dark');r.classList.toggle('light',t==='light');}
document.querySelectorAll('pavi-avatar').forEach(function(a){a.setAttribute('theme',t);});};
var head=document.head||document.documentElement;
var st=document.createElement('style');st.textContent=%3;head.appendChild(st);head.appendChild(pal);
if(!document.getElementById('velto-face')){var f=document.createElement('style');f.id='velto-face';f.textContent=%4;head.appendChild(f);}
function post(m){try{window.webkit.messageHandlers.velto.postMessage(m);}catch(e){}}
function avatarDefined(){return !!(window.customElements&&customElements.get('pavi-avatar'));}
function orb(state,style){if(avatarDefined()){var a=document.createElement('pavi-avatar');a.setAttribute('state',state);a.setAttribute('size','20');a.setAttribute('theme',window.__veltoTheme);if(style)a.setAttribute('style',style);return a;}var s=document.createElement('span');s.className='velto-orb';return s;}
var told=null;
function tell(){var busy=false;var sels=['button[aria-label*="Stop" i]','button[title*="Stop" i]','button[aria-label*="Interrupt" i]','[aria-busy="true"]','[data-status="working"]','[data-working="true"]'];
for(var i=0;i<sels.length&&!busy;i++){try{if(document.querySelector(sels[i]))busy=true;}catch(e){}}
if(!busy&&document.body){var t=(document.body.innerText||'');t=t.slice(-1500);busy=/esc to interrupt|stop generating|working…|thinking…/i.test(t);}
if(busy!==told){told=busy;document.documentElement.toggleAttribute('data-velto-busy',busy);document.documentElement.toggleAttribute('data-velto-idle',!busy);post({working:busy});}
document.querySelectorAll('.animate-spin:not([data-velto-done])').forEach(function(s){s.setAttribute('data-velto-done','1');if(s.parentNode)s.parentNode.insertBefore(orb('working'),s);s.style.display='none';});}
function dropReview(){document.querySelectorAll('button,a,[role=tab]').forEach(function(e){if((e.innerText||'').trim()==='Review'&&e.offsetParent&&e.getBoundingClientRect().height<60)e.style.display='none';});}
function scrubLinks(){document.querySelectorAll('a[href]').forEach(function(a){if(/opencode|discord/i.test(a.getAttribute('href'))){a.setAttribute('href','https://hallix.in/ca/cli');a.setAttribute('target','_blank');}});}
var STATES=[[/^(thinking|reasoning|deciding|planning)/i,'solving'],[/^(exploring|searching|reading|looking|scanning|fetching)/i,'searching'],[/^(called|calling|running|working|using)/i,'working'],[/^(composing|writing|drafting|replying|answering)/i,'composing'],[/^(building|formatting|preparing|generating|creating)/i,'shaping'],[/^(listening|waiting)/i,'listening']];
function orbForStatus(){if(!avatarDefined())return;document.querySelectorAll('div,span,p,li').forEach(function(e){
if(e.hasAttribute('data-velto-orb'))return;if(e.children.length>1)return;var t=(e.innerText||e.textContent||'').trim();if(!t||t.length>64)return;
if(e.children.length===1&&(e.children[0].innerText||e.children[0].textContent||'').trim()===t)return;
if(e.closest('[data-velto-orb]')||e.querySelector('[data-velto-orb]'))return;
var state=null;for(var i=0;i<STATES.length;i++){if(STATES[i][0].test(t)){state=STATES[i][1];break;}}if(!state)return;
var h=e.getBoundingClientRect().height;if(h===0||h>44)return;
e.setAttribute('data-velto-orb','1');var a=orb(state,'margin-right:7px;flex:0 0 auto');e.style.display='flex';e.style.alignItems='center';e.insertBefore(a,e.firstChild);});}
var RENAME={'Auto-accept permissions':'Approve routine steps automatically','Terminal shell':'Shell used in Advanced access','Show reasoning summaries':'Show how Velto is thinking','Expand shell tool parts':'Show command details in the timeline','Expand edit tool parts':'Show file changes in the timeline'};
function rowOf(e){var r=e.parentElement;while(r){var c=(typeof r.className==='string')?r.className:'';if(/row|field|item/.test(c))return r;r=r.parentElement;}return e.parentElement||e;}
function hideRow(e){var r=rowOf(e);if(r.getBoundingClientRect().height<160)r.style.display='none';}
function tidySettings(){document.querySelectorAll('label,div,button,h3,span,[role=tab]').forEach(function(e){if(e.dataset.veltoSetting)return;var t=(e.innerText||'').trim();if(!t||t.length>44)return;
if(t.toLowerCase()==='appearance'){e.dataset.veltoSetting='1';var c=(typeof e.className==='string')?e.className:'';if(c.indexOf('section')>=0)e.textContent='Fonts and display';else hideRow(e);return;}
if(/^theme$|^colou?r scheme$|^share$/i.test(t)){e.dataset.veltoSetting='1';hideRow(e);return;}
if(Object.prototype.hasOwnProperty.call(RENAME,t)&&e.children.length===0){e.dataset.veltoSetting='1';e.textContent=RENAME[t];}});}
function liveWordmark(){document.querySelectorAll('svg[viewBox^="0 0 720"]:not([data-velto-mark])').forEach(function(s){s.dataset.veltoMark='1';var d=document.createElement('div');d.className='velto-wordmark';d.innerHTML=%5;if(s.parentNode)s.parentNode.replaceChild(d,s);});}
var asked=0;
function catchHome(){var t=document.body?(document.body.innerText||'').toLowerCase():'';if(t.indexOf('create a session to get started')>=0||t.indexOf('nothing here yet')>=0){var now=Date.now();if(!asked||now-asked>=8000){asked=now;post({home:true});}}else{asked=0;}}
var tasks=[tell,dropReview,scrubLinks,orbForStatus,tidySettings,liveWordmark,catchHome];
function run(){tasks.forEach(function(f){try{f();}catch(e){}});}
run();setInterval(run,450);
})();)JS";

} // namespace

QString themeLock()
{
    // The engine's page of this version reads its own names for the two keys.
    return QStringLiteral("(function(){try{localStorage.setItem('velto-color-scheme',%1);"
                          "localStorage.setItem('velto-theme-id','oc-2');"
                          "localStorage.setItem('opencode-color-scheme',%1);"
                          "localStorage.setItem('opencode-theme-id','oc-2');}catch(e){}})();")
        .arg(jsQuote(Theme::webScheme()));
}

QString chatPalette(bool dark)
{
    return Theme::tokens(dark, [] { return buildPalette(); });
}

QString chatPalette()
{
    return chatPalette(Theme::isDark());
}

QString paletteBlock(bool dark)
{
    QString palette = chatPalette(dark);
    palette.replace(QLatin1Char(';'), QStringLiteral(" !important;"));
    return QStringLiteral(":root, :root[data-theme], :root[data-color-scheme], .dark, .light {") + palette +
           QStringLiteral(" color-scheme:") + (dark ? QStringLiteral("dark") : QStringLiteral("light")) +
           QStringLiteral(" !important;}");
}

QString chatEarly()
{
    const QString early = QStringLiteral(
        "[aria-label=\"Home\"][data-component]{display:none!important}\n"
        "svg[viewBox^=\"0 0 720\"]:not([data-velto-mark]),svg[data-component=\"logo-splash\"]:not([data-velto-mark])"
        "{visibility:hidden!important}\n"
        "html,body{background:var(--v2-background-bg-deep)!important;font-family:'Ubuntu',-apple-system,"
        "BlinkMacSystemFont,'Segoe UI',sans-serif!important}");
    // At document start the page may have no root element yet; the styles go
    // in as soon as it appears, before anything is drawn.
    return QStringLiteral("(function(){function attach(){if(document.getElementById('velto-palette'))return true;"
                          "var h=document.head||document.documentElement;if(!h)return false;"
                          "function add(id,css){var s=document.createElement('style');s.id=id;s.textContent=css;h.appendChild(s);}"
                          "add('velto-palette',%1);add('velto-early',%2);add('velto-face',%3);return true;}"
                          "if(!attach()){var mo=new MutationObserver(function(){if(attach())mo.disconnect();});"
                          "mo.observe(document,{childList:true,subtree:true});}})();")
        .arg(jsQuote(paletteBlock(Theme::isDark())), jsQuote(early), jsQuote(Theme::chatFontFaceCSS()));
}

QString chatInjection()
{
    const QString palettes = QStringLiteral("{light:%1,dark:%2}").arg(jsQuote(paletteBlock(false)), jsQuote(paletteBlock(true)));
    const QString style = QString::fromUtf8(kStyleHead) + Theme::mascotCSS() + QString::fromUtf8(kStyleTail);
    const QString wordmark = QStringLiteral("<div class=\"vo-mark\">") + Theme::mascotSVG(QStringLiteral("wm"), true) +
                             QStringLiteral("</div><span class=\"velto-name\">Vel<i>to</i></span>");
    // Placeholders are filled in one pass so no inserted text is read as one.
    QString out = QString::fromUtf8(kInjection);
    const std::pair<const char *, QString> fills[] = {
        {"%1", palettes}, {"%2", jsQuote(Theme::webScheme())}, {"%3", jsQuote(style)},
        {"%4", jsQuote(Theme::chatFontFaceCSS())}, {"%5", jsQuote(wordmark)},
    };
    QString result;
    result.reserve(out.size() + 4096);
    for (qsizetype i = 0; i < out.size(); ++i) {
        bool filled = false;
        if (out[i] == QLatin1Char('%') && i + 1 < out.size()) {
            for (const auto &f : fills) {
                if (out[i + 1] == QLatin1Char(f.first[1])) {
                    result += f.second;
                    ++i;
                    filled = true;
                    break;
                }
            }
        }
        if (!filled)
            result += out[i];
    }
    return result;
}

QString pageCompat()
{
    QFile f(QStringLiteral(":/web/compat.js"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString stillCall()
{
    // At document start the page may have no root element yet; the mark goes
    // on as soon as it appears.
    return QStringLiteral("(function(on){function mark(){var r=document.documentElement;if(!r)return false;"
                          "r.toggleAttribute('data-velto-still',on);return true;}"
                          "if(!mark()){var mo=new MutationObserver(function(){if(mark())mo.disconnect();});"
                          "mo.observe(document,{childList:true});}})(%1)")
        .arg(Theme::reduceMotion() ? QStringLiteral("true") : QStringLiteral("false"));
}

void installChatScripts(WebView *chat)
{
    chat->removeAllUserScripts();
    chat->addUserScript(stillCall(), WebView::When::DocumentStart, WebView::Frames::MainOnly);
    // Before anything of the page runs, in the page's own world.
    chat->addUserScript(pageCompat(), WebView::When::DocumentStart, WebView::Frames::MainOnly, WebView::World::Page);
    const QString orbs = BrowserTab::bundleScripts();
    if (!orbs.isEmpty())
        chat->addUserScript(orbs, WebView::When::DocumentEnd, WebView::Frames::MainOnly, WebView::World::Page);
    chat->addUserScript(themeLock(), WebView::When::DocumentStart, WebView::Frames::MainOnly, WebView::World::Page);
    chat->addUserScript(chatEarly(), WebView::When::DocumentStart, WebView::Frames::MainOnly, WebView::World::Page);
    chat->addUserScript(chatInjection(), WebView::When::DocumentEnd, WebView::Frames::MainOnly, WebView::World::Page);
}

QString earlyStyle(const QString &css)
{
    return QStringLiteral("(function(){function attach(){var h=document.head||document.documentElement;if(!h)return false;"
                          "var s=document.createElement('style');s.textContent=%1;h.appendChild(s);return true;}"
                          "if(!attach()){var mo=new MutationObserver(function(){if(attach())mo.disconnect();});"
                          "mo.observe(document,{childList:true,subtree:true});}})();")
        .arg(jsQuote(css));
}

QString liveThemeCall()
{
    return QStringLiteral("window.__veltoSetTheme && window.__veltoSetTheme(%1)").arg(jsQuote(Theme::webScheme()));
}

QString statusCall(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\''), QChar(0x2019));
    return QStringLiteral("window.velto && velto.setMessage(%1)").arg(jsQuote(t));
}

} // namespace ChatScripts
