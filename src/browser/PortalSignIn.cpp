#include "browser/PortalSignIn.h"
#include "browser/BrowserPane.h"
#include "browser/Hosts.h"
#include "browser/PageScripts.h"
#include "platform/WebView.h"

#include <QPointer>
#include <QUrl>

namespace PortalSignIn {

namespace {

// The host a script must find itself on, as the page spells it.
QString hostCheckJS(const QString &host)
{
    return QStringLiteral("if(String(location.hostname).toLowerCase()!==%1)return 'wrong_host';").arg(jsQuote(host));
}

const QString kVisible =
    QStringLiteral("function visible(e){var r=e.getBoundingClientRect();return r.width>0&&r.height>0;}");

// Runs a script in the sign-in's own tab, never in whichever tab is shown.
void evalIn(const QPointer<BrowserTab> &tab, const QString &script, std::function<void(const QString &)> done)
{
    if (!tab) {
        done(QStringLiteral("tab_closed"));
        return;
    }
    tab->web()->evaluate(script, [done = std::move(done)](const WebView::ScriptResult &r) { done(scriptOutcome(r)); });
}

struct Job {
    QPointer<BrowserTab> tab;
    QString fill, submit;
    std::function<void(const QString &)> done;
};

void submit(const std::shared_ptr<Job> &job)
{
    delay(1.8, [job] { evalIn(job->tab, job->submit, job->done); });
}

} // namespace

QString fillJS(const QString &host, const QString &username, const QString &password)
{
    return QStringLiteral("(function(){\n") + hostCheckJS(host) + QLatin1Char('\n') + kVisible +
           QStringLiteral(
               "\nvar pw=Array.prototype.filter.call(document.querySelectorAll('input[type=password]'),visible)[0];\n"
               "if(!pw)return 'no_fields';\n"
               "var inputs=Array.prototype.filter.call(document.querySelectorAll('input'),visible);\n"
               "var user=null;for(var i=inputs.indexOf(pw)-1;i>=0;i--){var t=String(inputs[i].type||'').toLowerCase()||'text';\n"
               "if(['text','email','tel','number'].indexOf(t)>=0){user=inputs[i];break;}}\n"
               "function put(el,v){var d=Object.getOwnPropertyDescriptor(el.constructor.prototype,'value');\n"
               "if(d&&d.set)d.set.call(el,v);else el.value=v;\n"
               "el.dispatchEvent(new Event('input',{bubbles:true}));el.dispatchEvent(new Event('change',{bubbles:true}));}\n"
               "if(user)put(user,%1);\nput(pw,%2);\nreturn 'filled';\n})()")
               .arg(jsQuote(username), jsQuote(password));
}

QString submitJS(const QString &host)
{
    return QStringLiteral("(function(){\n") + hostCheckJS(host) + QLatin1Char('\n') + kVisible +
           QStringLiteral(
               "\nfunction first(sel){return Array.prototype.filter.call(document.querySelectorAll(sel),visible)[0]||null;}\n"
               "var box=first('input[id*=captcha i],input[name*=captcha i],input[placeholder*=captcha i],"
               "input[aria-label*=captcha i]');\n"
               "var img=first('img[src*=captcha i],img[alt*=captcha i],[id*=captcha i] img,canvas[id*=captcha i],"
               "[class*=captcha i] img');\n"
               "if(box||img){if(box)box.focus();return 'captcha';}\n"
               "var all=Array.prototype.filter.call(document.querySelectorAll('button,input[type=submit],a'),visible);\n"
               "for(var i=0;i<all.length;i++){var t=String(all[i].innerText||all[i].value||'').trim();\n"
               "if(/^(login|log in|sign in|submit|continue|proceed)/i.test(t)){all[i].click();return 'submitted';}}\n"
               "return 'filled';\n})()");
}

QString address(const PortalLogin &login)
{
    const QString text = login.url.isEmpty() ? PortalCatalogue::url(login.portal) : login.url;
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.host().isEmpty() || !hostAllowed(url.host()))
        return QString();
    return text;
}

void run(BrowserPane &pane, const PortalLogin &login, std::function<void(const QString &)> done)
{
    const QString page = address(login);
    if (page.isEmpty()) {
        done(QStringLiteral("no_login_page"));
        return;
    }
    const std::optional<QString> password = PortalVault::password(login.id);
    if (!password) {
        done(QStringLiteral("no_password"));
        return;
    }
    const QString host = QUrl(page).host(QUrl::FullyEncoded).toLower();
    const int index = pane.newTab(QUrl(page), true);
    auto job = std::make_shared<Job>();
    job->tab = pane.tabs().value(index);
    job->fill = fillJS(host, login.username, *password);
    job->submit = submitJS(host);
    job->done = std::move(done);
    delay(3.0, [job] {
        evalIn(job->tab, job->fill, [job](const QString &first) {
            if (first == QLatin1String("filled")) {
                submit(job);
                return;
            }
            if (first != QLatin1String("no_fields")) {
                job->done(first);
                return;
            }
            // The form may come late: one more try.
            delay(3.0, [job] {
                evalIn(job->tab, job->fill, [job](const QString &second) {
                    if (second == QLatin1String("filled"))
                        submit(job);
                    else
                        job->done(second);
                });
            });
        });
    });
}

} // namespace PortalSignIn
