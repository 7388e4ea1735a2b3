#include "toolserver/ActTools.h"
#include "browser/BrowserPane.h"
#include "browser/PageScripts.h"
#include "platform/WebView.h"
#include "toolserver/PaneTool.h"
#include "toolserver/PageTools.h"
#include "toolserver/WorkPaths.h"

#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>

namespace ActTools {

namespace {

const QString &kNoWindow = PaneTool::NO_WINDOW;
using PaneTool::answer;
using PaneTool::paneOf;

QString stringArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

bool boolArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isBool() && v.toBool();
}

// The shared part of every acting script: the target by its ref, and the
// tests that judge a control. A secret field's value never becomes a label.
QString headJS(const QString &ref, const QString &holdKey)
{
    static const QString head = QStringLiteral(
        "%1\n"
        "var OTP=/otp|one.?time|mfa|2fa|\\bevc\\b|auth.?code|verification.?code|ओटीपी/;"
        "var IRREV=/\\b(submit|file return|file now|final submit|confirm filing|proceed to pay|make payment|pay now|"
        "pay online|e-?verify|everify|evc|sign with dsc|dsc|freeze|surrender|cancel registration)\\b|"
        "जमा|दाखिल|भुगतान|सबमिट|पुष्टि|सत्यापित|ચુકવણી|સબમિટ/i;"
        "function target(){var e=byRef(%2);return e&&visible(e)?e:null;}"
        "function held(){var e=V.held?V.held.get(%3):null;if(V.held)V.held.delete(%3);"
        "return e&&e.isConnected&&visible(e)?e:null;}"
        "function hold(e){if(%3){V.held=V.held||new Map();V.held.set(%3,e);}}"
        "function txt(v){return typeof v==='string'?v:'';}"
        "function meta(e){return ['name','id','placeholder','aria-label','autocomplete'].map(function(a){"
        "return e.getAttribute(a)||'';}).join(' ').toLowerCase();}"
        "function squeeze(s){return s.replace(/\\s+/g,' ').trim();}"
        "function classify(e){var tag=e.tagName.toLowerCase(),type=(e.getAttribute('type')||'').toLowerCase();"
        "var label=red(squeeze([txt(e.innerText),secret(e)?'':txt(e.value),attr(e,'aria-label'),attr(e,'title')].join(' ')));"
        "if((tag==='input'||tag==='textarea')&&OTP.test(meta(e)))return 'otp|'+label;"
        "if(IRREV.test(label))return 'confirm|'+label;"
        "if((type==='submit'||type==='image')&&!label)return 'confirm|(unlabelled submit control)';"
        "return 'free|'+label;}"
        "function gate(e,enter){if(OTP.test(meta(e)))return 'otp|';if(!enter)return 'free|';"
        "var f=e.form||(e.closest?e.closest('form'):null);if(!f)return 'free|';"
        "var bs=f.querySelectorAll('button,input[type=submit],input[type=image]');"
        "for(var i=0;i<bs.length;i++){var b=bs[i];"
        "var t=[txt(b.innerText),txt(b.value),attr(b,'aria-label')].join(' ').trim();"
        "if(IRREV.test(t))return 'confirm|'+squeeze(txt(b.innerText)||txt(b.value)||attr(b,'aria-label')||'submit');}"
        "return 'free|';}\n");
    return head.arg(pageHelpersJS(), jsQuote(ref), jsQuote(holdKey));
}

QString wrap(const QString &ref, const QString &body, const QString &holdKey = QString())
{
    return QStringLiteral("(function(){") + headJS(ref, holdKey) + body + QStringLiteral("})()");
}

// The click: only on the very control that was judged (held in the isolated
// world since, out of the page's reach), and only while it is still in the
// page, visible and judged the same way.
QString clickJS(const QString &holdKey, const QString &seen)
{
    return wrap(QString(), QStringLiteral("var e=held();if(!e||classify(e)!==%1)return 'changed';"
                                          "e.scrollIntoView({block:'center'});e.click();return 'clicked';")
                               .arg(jsQuote(seen)),
                holdKey);
}

// Typing: into the very field that was judged, judged again the same way,
// never a password field; the value goes through the element's own setter
// so form libraries see it.
QString typeJS(const QString &holdKey, const QString &text, bool enter, const QString &seen)
{
    return wrap(QString(), QStringLiteral(
                         "var e=held();if(!e||gate(e,%3)!==%2)return 'changed';"
                         "if(secret(e)&&V.pw.has(e))return 'password';"
                         "e.scrollIntoView({block:'center'});e.focus();"
                         "var d=Object.getOwnPropertyDescriptor(e.constructor.prototype,'value');"
                         "if(d&&d.set)d.set.call(e,%1);else e.value=%1;"
                         "e.dispatchEvent(new Event('input',{bubbles:true}));"
                         "e.dispatchEvent(new Event('change',{bubbles:true}));"
                         "if(%3)e.dispatchEvent(new KeyboardEvent('keydown',{key:'Enter',keyCode:13,which:13,bubbles:true}));"
                         "return 'typed';")
                         .arg(jsQuote(text), jsQuote(seen), enter ? QStringLiteral("true") : QStringLiteral("false")),
                holdKey);
}

QString selectJS(const QString &ref, const QString &value)
{
    return wrap(ref, QStringLiteral(
                         "var e=target();if(!e||e.tagName!=='SELECT')return 'gone';var want=%1.toLowerCase();"
                         "var o=Array.prototype.slice.call(e.options);var w=null;"
                         "for(var i=0;i<o.length&&!w;i++)if(o[i].value.toLowerCase()===want||"
                         "o[i].text.trim().toLowerCase()===want)w=o[i];"
                         "for(var i=0;i<o.length&&!w;i++)if(o[i].text.toLowerCase().indexOf(want)>=0)w=o[i];"
                         "if(!w)return 'options: '+o.slice(0,30).map(function(x){return x.text.trim();}).join(' | ');"
                         "e.value=w.value;e.dispatchEvent(new Event('change',{bubbles:true}));"
                         "return 'selected '+w.text.trim();")
                         .arg(jsQuote(value)));
}

// The OTP box: the first visible input whose names say it takes a one-time code.
const QString kOtpBox = QStringLiteral(
    "function box(){var all=document.querySelectorAll('input');for(var i=0;i<all.length;i++){var e=all[i];"
    "var r=e.getBoundingClientRect();if(!(r.width>0&&r.height>0))continue;"
    "var m=['name','id','placeholder','aria-label','autocomplete'].map(function(a){return e.getAttribute(a)||'';}).join('');"
    "if(/otp|one.?time|mfa|2fa|evc|auth.?code|verification.?code|ओटीपी/i.test(m))return e;}return null;}");

QString otpFocusJS()
{
    return QStringLiteral("(function(){") + kOtpBox +
           QStringLiteral("var e=box();if(!e)return 'no_field';e.scrollIntoView({block:'center'});e.focus();"
                          "return 'focused';})()");
}

QString otpLengthJS()
{
    return QStringLiteral("(function(){") + kOtpBox +
           QStringLiteral("var e=box();if(!e)return 'gone';return String(e.value.trim().length);})()");
}

struct Verdict {
    QString kind;
    QString label;
};

// Split at the first "|" only, empty parts dropped; no parts at all is "free".
Verdict verdictOf(const QString &outcome)
{
    const qsizetype bar = outcome.indexOf(QLatin1Char('|'));
    QStringList parts = bar < 0 ? QStringList{outcome} : QStringList{outcome.left(bar), outcome.mid(bar + 1)};
    parts.removeAll(QString());
    return {parts.value(0, QStringLiteral("free")), parts.value(1)};
}

// The CA's approval; without the hook, nothing is approved.
bool approved(BrowserPane &pane, const QString &title)
{
    if (!BrowserMCP::onConfirm)
        return false;
    const QUrl url = pane.web()->url();
    return BrowserMCP::onConfirm(title, url.isEmpty() ? QString() : url.toString());
}

QString goneText(const QString &ref)
{
    return QStringLiteral("Ref ") + ref + QStringLiteral(" is gone. Call browser_read again.");
}

// The control judged before the CA was asked no longer stands as judged:
// nothing was done to the page.
QString changedText(const QString &what)
{
    return QStringLiteral("The page changed since that control was read, so nothing was ") + what +
           QStringLiteral(". Call browser_read and look again.");
}

// A key for one judged control, held in the page's isolated world until the act.
QString holdKey()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Settles, then answers lead, a blank line and the brief page.
void settleWith(BrowserPane &pane, double seconds, const QString &lead, const BrowserMCP::Done &done)
{
    PageTools::settle(pane, seconds, false, done,
                      [lead](const QString &page) { return lead + QStringLiteral("\n\n") + page; });
}

void pollOtp(QPointer<BrowserPane> pane, QPointer<BrowserTab> tab, int tries, BrowserMCP::Done done);

// The pane closed while a script ran: the tool answers so.
bool paneGone(const QPointer<BrowserPane> &p, const BrowserMCP::Done &done)
{
    if (p)
        return false;
    done(answer(kNoWindow, true));
    return true;
}

// The first look at a control, before the CA is asked anything: a script
// error, a ref that names nothing, or a closed pane end the tool here.
bool judgementFailed(const QString &seen, const QString &ref, const QPointer<BrowserPane> &p,
                     const BrowserMCP::Done &done)
{
    if (seen.startsWith(QLatin1String("ERROR:"))) {
        done(answer(QStringLiteral("Could not read ") + ref + QStringLiteral(": ") + seen +
                        QStringLiteral(". Call browser_read again."),
                    true));
        return true;
    }
    if (seen == QLatin1String("gone")) {
        done(answer(goneText(ref), true));
        return true;
    }
    return paneGone(p, done);
}

} // namespace

QString classifyJS(const QString &ref, const QString &holdKey)
{
    return wrap(ref, QStringLiteral("var e=target();if(!e)return 'gone';hold(e);return classify(e);"), holdKey);
}

QString gateJS(const QString &ref, bool enter, const QString &holdKey)
{
    return wrap(ref, QStringLiteral("var e=target();if(!e)return 'gone';hold(e);return gate(e,%1);")
                         .arg(enter ? QStringLiteral("true") : QStringLiteral("false")),
                holdKey);
}

void click(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const QString ref = stringArg(args, "ref");
    QPointer<BrowserPane> p(pane);
    const QString key = holdKey();
    pane->evalJS(classifyJS(ref, key), [p, ref, key, done](const QString &seen) {
        if (judgementFailed(seen, ref, p, done))
            return;
        const Verdict v = verdictOf(seen);
        if (v.kind == QLatin1String("otp")) {
            done(answer(QStringLiteral("That is the OTP box. Call portal_otp instead — Velto brings the window "
                                       "forward and the CA types the code themselves. You never handle it."),
                        true));
            return;
        }
        const bool confirm = v.kind == QLatin1String("confirm");
        if (confirm && !approved(*p, QStringLiteral("Click “") + v.label + QStringLiteral("”?"))) {
            done(answer(QStringLiteral("The CA did not approve “") + v.label +
                            QStringLiteral("”. Stop here, say plainly what you were about to do and what you still "
                                           "need, and wait for them."),
                        true));
            return;
        }
        if (paneGone(p, done))
            return;
        p->evalJS(clickJS(key, seen), [p, ref, label = v.label, confirm, done](const QString &outcome) {
            if (outcome == QLatin1String("changed")) {
                done(answer(changedText(QStringLiteral("clicked")), true));
                return;
            }
            if (outcome != QLatin1String("clicked")) {
                done(answer(QStringLiteral("Could not click ") + ref + QStringLiteral(": ") + outcome +
                                QStringLiteral(". Call browser_read again."),
                            true));
                return;
            }
            if (paneGone(p, done))
                return;
            settleWith(*p, confirm ? 2.6 : 1.6,
                       QStringLiteral("Clicked ") + ref + QStringLiteral(" (") + label + QStringLiteral(")"), done);
        });
    });
}

void type(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const QString ref = stringArg(args, "ref");
    const QString text = stringArg(args, "text");
    const bool enter = boolArg(args, "press_enter");
    QPointer<BrowserPane> p(pane);
    const QString key = holdKey();
    pane->evalJS(gateJS(ref, enter, key), [p, ref, key, text, enter, done](const QString &seen) {
        if (judgementFailed(seen, ref, p, done))
            return;
        const Verdict v = verdictOf(seen);
        if (v.kind == QLatin1String("otp")) {
            done(answer(QStringLiteral("That is an OTP box — call portal_otp. Velto brings the window forward and "
                                       "the CA types the code. Never put a code in here yourself."),
                        true));
            return;
        }
        if (v.kind == QLatin1String("confirm") &&
            !approved(*p, QStringLiteral("Press Enter — this submits “") + v.label + QStringLiteral("”?"))) {
            done(answer(QStringLiteral("The CA did not approve submitting “") + v.label +
                            QStringLiteral("”. The text was not typed. Say what you were about to do and wait."),
                        true));
            return;
        }
        if (paneGone(p, done))
            return;
        p->evalJS(typeJS(key, text, enter, seen), [p, ref, enter, done](const QString &outcome) {
            if (outcome.startsWith(QLatin1String("ERROR:"))) {
                done(answer(QStringLiteral("Could not type into ") + ref + QStringLiteral(": ") + outcome +
                                QStringLiteral(". Call browser_read again."),
                            true));
                return;
            }
            if (outcome == QLatin1String("changed")) {
                done(answer(changedText(QStringLiteral("typed")), true));
                return;
            }
            if (outcome == QLatin1String("password")) {
                done(answer(QStringLiteral("Refused: that is a password field. Use portal_sign_in — Velto types "
                                           "the saved password itself."),
                            true));
                return;
            }
            if (paneGone(p, done))
                return;
            settleWith(*p, enter ? 1.8 : 0.5, QStringLiteral("Typed into ") + ref, done);
        });
    });
}

void select(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const QString ref = stringArg(args, "ref");
    QPointer<BrowserPane> p(pane);
    pane->evalJS(selectJS(ref, stringArg(args, "value")), [p, ref, done](const QString &outcome) {
        if (outcome.startsWith(QLatin1String("ERROR:"))) {
            done(answer(QStringLiteral("Could not use ") + ref + QStringLiteral(": ") + outcome +
                            QStringLiteral(". Call browser_read again."),
                        true));
            return;
        }
        if (outcome == QLatin1String("gone")) {
            done(answer(QStringLiteral("Ref ") + ref + QStringLiteral(" is not a dropdown. Call browser_read again."),
                        true));
            return;
        }
        if (paneGone(p, done))
            return;
        settleWith(*p, 1.0, outcome, done);
    });
}

namespace {

// A whole decimal number (optional sign) of at least 4.
bool codeEntered(const QString &outcome)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    if (!number.match(outcome).hasMatch())
        return false;
    return !outcome.startsWith(QLatin1Char('-')) && outcome.toDouble() >= 4;
}

void pollOtp(QPointer<BrowserPane> pane, QPointer<BrowserTab> tab, int tries, BrowserMCP::Done done)
{
    // The tab where the box was found is the one watched, whichever is shown.
    auto handle = [pane, tab, tries, done](const QString &outcome) {
        if (!pane) {
            done(answer(kNoWindow, true));
            return;
        }
        if (codeEntered(outcome)) {
            settleWith(*pane, 0.6, QStringLiteral("The CA entered the code. Carry on."), done);
        } else if (outcome == QLatin1String("gone")) {
            settleWith(*pane, 0.4, QStringLiteral("The OTP box is gone — the page probably moved on."), done);
        } else if (tries >= 75) {
            done(answer(QStringLiteral("Waited 2.5 minutes and the OTP box is still empty. Tell the CA what is "
                                       "waiting for them, then call portal_otp again."),
                        true));
        } else {
            PageTools::delay(2.0, [pane, tab, tries, done] { pollOtp(pane, tab, tries + 1, done); });
        }
    };
    if (!tab) {
        // The tab was closed: its box went with it.
        handle(QStringLiteral("gone"));
        return;
    }
    tab->web()->evaluate(otpLengthJS(), [handle](const WebView::ScriptResult &r) { handle(scriptOutcome(r)); });
}

} // namespace

void otp(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    if (QWidget *window = pane->window()) {
        window->raise();
        window->activateWindow();
    }
    QPointer<BrowserPane> p(pane);
    QPointer<BrowserTab> tab(pane->activeTab());
    pane->evalJS(otpFocusJS(), [p, tab, done](const QString &outcome) {
        if (outcome != QLatin1String("focused") || !tab) {
            done(answer(QStringLiteral("No OTP box is visible on this page. Call browser_read and look again — the "
                                       "portal may not have sent the code yet."),
                        true));
            return;
        }
        pollOtp(p, tab, 0, done);
    });
}

void upload(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const QString ref = stringArg(args, "ref");
    const QString path = stringArg(args, "path");
    if (ref.isEmpty() || path.isEmpty()) {
        done(answer(QStringLiteral("ref and path are required."), true));
        return;
    }
    const QString root = WorkPaths::root();
    const QString file = WorkPaths::resolved(WorkPaths::standard(path, root));
    if (!WorkPaths::inside(file, root) && file != root) {
        done(answer(QStringLiteral("Refused: ") + file +
                        QStringLiteral(" is outside the clients folder. Only files in the workspace can be uploaded."),
                    true));
        return;
    }
    const QFileInfo info(file);
    if (!info.exists()) {
        done(answer(QStringLiteral("No file at ") + file + QStringLiteral("."), true));
        return;
    }
    // Only a regular file: a folder, a device or a pipe is never handed to a page.
    if (!info.isFile()) {
        done(answer(QStringLiteral("Refused: ") + file + QStringLiteral(" is not a regular file."), true));
        return;
    }
    QPointer<BrowserPane> p(pane);
    const QString name = info.fileName();
    pane->upload(ref, file, [p, ref, name, done](const QString &outcome) {
        if (outcome == QLatin1String("clicked")) {
            if (paneGone(p, done))
                return;
            settleWith(*p, 2.4,
                       QStringLiteral("Attached ") + name + QStringLiteral(" to ") + ref +
                           QStringLiteral(". Check the page shows it before moving on."),
                       done);
        } else if (outcome == QLatin1String("not_file")) {
            done(answer(QStringLiteral("Ref ") + ref +
                            QStringLiteral(" is not a file input. Call browser_read and pick the upload control."),
                        true));
        } else if (outcome == QLatin1String("gone")) {
            done(answer(goneText(ref), true));
        } else {
            done(answer(QStringLiteral("Could not attach the file (") + outcome + QStringLiteral(")."), true));
        }
    });
}

} // namespace ActTools
