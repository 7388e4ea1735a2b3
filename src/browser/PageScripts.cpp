#include "browser/PageScripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

QString jsQuote(const QString &text)
{
    QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    if (json.size() < 2)
        json = "[\"\"]";
    QString out = QString::fromUtf8(json.mid(1, json.size() - 2));
    // JSON leaves the two line separators raw; older script parsers reject them.
    out.replace(QChar(0x2028), QStringLiteral("\\u2028"));
    out.replace(QChar(0x2029), QStringLiteral("\\u2029"));
    return out;
}

QString pageHelpersJS()
{
    // cut looks only at a stretch of the text a little longer than what it
    // keeps (longer again when that does not hold n whole characters):
    // splitting a whole long page into characters takes seconds.
    static const QString helpers = QStringLiteral(R"JS(var OTP=/otp|one.?time|mfa|2fa|\bevc\b|auth.?code|verification.?code|ओटीपी/;
function cut(s,n){if(s.length<=n)return s;if(typeof Intl!=='undefined'&&Intl.Segmenter){var seg=new Intl.Segmenter();for(var len=2*n+16;;len*=2){var whole=len>=s.length,out='',k=0;for(var g of seg.segment(whole?s:s.slice(0,len))){if(k===n)return out;out+=g.segment;k++;}if(whole)return out;}}var out='',k=0;for(var c of s){if(k++>=n)break;out+=c;}return out;}
function attr(e,n){var v=e.getAttribute(n);return v==null?'':v;}
function secret(e){var t=e.tagName.toLowerCase();if(t!=='input'&&t!=='textarea')return false;if(attr(e,'type').toLowerCase()==='password')return true;var meta=[attr(e,'name'),attr(e,'id'),attr(e,'placeholder'),attr(e,'aria-label'),attr(e,'autocomplete')].join(' ').toLowerCase();return OTP.test(meta);})JS");
    return helpers;
}

QString snapshotJS(bool full)
{
    const int labelMax = full ? 90 : 60;
    const int textMax = full ? 7000 : 1200;
    // The page is read as a CA would see it, but no secret leaves it: the
    // value of a password or one-time-code field is never shown, not even
    // as a label. Everything is read before the refs are written, and lines
    // are built only for the controls listed: a write between reads would
    // make the page lay itself out again for every control.
    static const QString body = QStringLiteral(R"JS((function(){
var FULL=%1,LABEL_MAX=%2,TEXT_MAX=%3,VALUE_MAX=60,BRIEF_LINKS=45;
%4
function visible(e){var r=e.getBoundingClientRect();if(!(r.width>0&&r.height>0))return false;var st=getComputedStyle(e);return st.visibility!=='hidden'&&st.display!=='none'&&st.opacity!=='0';}
function label(e,hide){var picks=[attr(e,'aria-label'),attr(e,'title'),attr(e,'placeholder'),hide?'':(typeof e.value==='string'?e.value:''),typeof e.innerText==='string'?e.innerText:''];var l='';for(var i=0;i<picks.length;i++){if(picks[i]){l=picks[i].trim();break;}}
if(!l&&e.id){try{var lb=document.querySelector('label[for="'+CSS.escape(e.id)+'"]');if(lb&&lb.innerText)l=lb.innerText.trim();}catch(x){}}
return cut(l.replace(/\s+/g,' '),LABEL_MAX);}
var old=document.querySelectorAll('[data-velto-ref]');for(var i=0;i<old.length;i++)old[i].removeAttribute('data-velto-ref');
var all=document.querySelectorAll('a,button,input,select,textarea,[role=button],[role=link],[role=tab],[onclick]');
var vis=[],acts=[],links=[];
for(var i=0;i<all.length;i++){if(visible(all[i]))vis.push(all[i]);}
for(var i=0;i<vis.length;i++){var tag=vis[i].tagName.toLowerCase(),type=attr(vis[i],'type');
(tag==='input'||tag==='select'||tag==='textarea'||tag==='button'||type==='submit'||type==='image'?acts:links).push(i);}
function line(i){var e=vis[i],tag=e.tagName.toLowerCase(),type=attr(e,'type'),hide=secret(e);
var l='r'+(i+1)+' '+tag+(type?'['+type+']':'')+' "'+label(e,hide)+'"';
if((tag==='input'||tag==='textarea')&&!hide&&typeof e.value==='string'&&e.value!=='')l+=' value="'+cut(e.value,VALUE_MAX)+'"';
if(e.disabled===true)l+=' (disabled)';
return l;}
var pick=[];if(FULL){for(var i=0;i<vis.length&&i<220;i++)pick.push(i);}else pick=acts.concat(links.slice(0,Math.max(0,BRIEF_LINKS-acts.length)));
var elements=pick.map(line),n=vis.length;
var text=document.body?(document.body.innerText||''):'';text=cut(text.replace(/\n{3,}/g,'\n\n'),TEXT_MAX);
for(var i=0;i<n;i++)vis[i].setAttribute('data-velto-ref','r'+(i+1));
return JSON.stringify({url:location.href,title:document.title,elements:elements,text:text,total:n,fields:acts.length});
})())JS");
    return body.arg(full ? QStringLiteral("true") : QStringLiteral("false")).arg(labelMax).arg(textMax).arg(pageHelpersJS());
}

QString scriptOutcome(const WebView::ScriptResult &result)
{
    if (!result.ok()) {
        QString out = QStringLiteral("ERROR: ") + result.error;
        if (result.line >= 0)
            out += QStringLiteral(" (line %1)").arg(result.line);
        return out;
    }
    const QVariant &v = result.value;
    if (!v.isValid() || v.isNull())
        return QString();
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return QString::fromUtf8(QJsonDocument::fromVariant(v).toJson(QJsonDocument::Compact));
    }
}
