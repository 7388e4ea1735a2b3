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

// What the program remembers about a page, in the isolated world and for the
// life of the document: the fields that have ever been password fields (or
// were judged secret), every secret value seen, so a value the page copies
// elsewhere is hidden there too, and the controls by ref. The page's own
// scripts cannot reach any of it: a ref is an object held here, never a mark
// in the document the page could move to another control.
static const char *const kSecretStore =
    "var V=window.__veltoSecrets||(window.__veltoSecrets={pw:new WeakSet(),els:new WeakSet(),vals:new Set()});";

QString secretWatchJS()
{
    // A page that turns a password field into a text field ("Show") must not
    // make its value readable: every field that is ever a password field is
    // remembered from the start of the document.
    static const QString watch = QString::fromLatin1(kSecretStore) + QStringLiteral(R"JS(
(function(){function mark(e){if(e&&e.tagName==='INPUT'&&(e.getAttribute('type')||'').toLowerCase()==='password')V.pw.add(e);}
new MutationObserver(function(ms){for(var i=0;i<ms.length;i++){var m=ms[i];
if(m.type==='attributes'){if((m.oldValue||'').toLowerCase()==='password')V.pw.add(m.target);mark(m.target);continue;}
for(var j=0;j<m.addedNodes.length;j++){var n=m.addedNodes[j];if(n.nodeType!==1)continue;mark(n);
if(n.querySelectorAll){var ps=n.querySelectorAll('input');for(var k=0;k<ps.length;k++)mark(ps[k]);}}}})
.observe(document,{subtree:true,childList:true,attributes:true,attributeFilter:['type'],attributeOldValue:true});})();)JS");
    return watch;
}

QString pageHelpersJS()
{
    // cut looks only at a stretch of the text a little longer than what it
    // keeps (longer again when that does not hold n whole characters):
    // splitting a whole long page into characters takes seconds.
    //
    // A field is secret once it has been a password field, when the page's
    // styles mask it, or when it takes a one-time code (by its autocomplete,
    // its names or labels, or as one box of a row of one-character boxes).
    // Its value never leaves the page: red() hides every secret value seen
    // wherever the page copies it, and redUrl() also hides query values
    // whose names say password, code or token. A postal PIN code is no secret.
    static const QString helpers = QString::fromLatin1(kSecretStore) + QStringLiteral(R"JS(
var OTP=/otp|one.?time|mfa|2fa|\bevc\b|auth.?code|verification.?code|ओटीपी/;
var CODEWORD=/pass.?word|passwd|pass.?code|\bm-?pin\b|\bt-?pin\b|\bpin\b(?!\s*-?\s*code)|security.?code|access.?code|sms.?code|login.?code|confirm\w*.?code|\d.?digit.?code|\bcode\b.{0,24}\b(sent|sms|e-?mail|mobile|phone)\b/;
var CODENAME=/^(code|otp|pin|mpin|tpin|passcode|pass|pwd|pw)$/;
var SECRETQ=/^(pw\d*|pin|mpin|tpin|code|auth_?code|captcha)$|pass|pwd|otp|secret|token|api.?key/i;
var CONTROLS='a,button,input,select,textarea,[role=button],[role=link],[role=tab],[onclick]';
function cut(s,n){if(s.length<=n)return s;if(typeof Intl!=='undefined'&&Intl.Segmenter){var seg=new Intl.Segmenter();for(var len=2*n+16;;len*=2){var whole=len>=s.length,out='',k=0;for(var g of seg.segment(whole?s:s.slice(0,len))){if(k===n)return out;out+=g.segment;k++;}if(whole)return out;}}var out='',k=0;for(var c of s){if(k++>=n)break;out+=c;}return out;}
function attr(e,n){var v=e.getAttribute(n);return v==null?'':v;}
function visible(e){var r=e.getBoundingClientRect();if(!(r.width>0&&r.height>0))return false;var st=getComputedStyle(e);return st.visibility!=='hidden'&&st.display!=='none'&&st.opacity!=='0';}
function controls(){var all=document.querySelectorAll(CONTROLS),vis=[];for(var i=0;i<all.length;i++){if(visible(all[i]))vis.push(all[i]);}return vis;}
function numberControls(vis){V.refs=new Map();for(var i=0;i<vis.length;i++)V.refs.set('r'+(i+1),vis[i]);}
function byRef(ref){var e=V.refs?V.refs.get(ref):null;return e&&e.isConnected?e:null;}
function labelsOf(e){var out=[];try{if(e.labels)for(var i=0;i<e.labels.length;i++)out.push(e.labels[i].textContent||'');var ids=attr(e,'aria-labelledby').split(/\s+/);for(var i=0;i<ids.length;i++){var l=ids[i]&&document.getElementById(ids[i]);if(l)out.push(l.textContent||'');}}catch(x){}return out.join(' ');}
function boxRow(e){if(e.tagName!=='INPUT'||e.maxLength!==1)return null;for(var p=e.parentElement,k=0;p&&k<3;p=p.parentElement,k++){var ins=p.querySelectorAll('input'),n=0;for(var i=0;i<ins.length;i++)if(ins[i].maxLength===1)n++;if(n>=4)return p;}return null;}
function secret(e){if(!e||!e.tagName)return false;var t=e.tagName.toLowerCase();if(t!=='input'&&t!=='textarea')return false;
if(attr(e,'type').toLowerCase()==='password'||e.type==='password')V.pw.add(e);if(V.pw.has(e)||V.els.has(e))return true;
var s=false;try{var st=getComputedStyle(e),ts=st.webkitTextSecurity||st.getPropertyValue('-webkit-text-security');if(ts&&ts!=='none')s=true;}catch(x){}
if(!s){var names=[attr(e,'name'),attr(e,'id')];var meta=names.concat([attr(e,'placeholder'),attr(e,'aria-label'),attr(e,'autocomplete'),attr(e,'title'),labelsOf(e)]).join(' ').toLowerCase().replace(/\s+/g,' ');
s=OTP.test(meta)||CODEWORD.test(meta)||CODENAME.test(names[0].toLowerCase())||CODENAME.test(names[1].toLowerCase())||boxRow(e)!==null;}
if(s)V.els.add(e);return s;}
function secretValues(){var ins=document.querySelectorAll('input,textarea'),rows=new Map();
for(var i=0;i<ins.length;i++){var e=ins[i];if(!secret(e))continue;var v=typeof e.value==='string'?e.value:'';if(v.trim().length>=3)V.vals.add(v.trim());
var row=boxRow(e);if(row){if(!rows.has(row))rows.set(row,[]);rows.get(row).push(v);}}
rows.forEach(function(vs){var j=vs.join('');if(j.length>=3)V.vals.add(j);});
return Array.from(V.vals).sort(function(a,b){return b.length-a.length;});}
var SVR=null;
function red(s){if(typeof s!=='string'||!s)return '';if(!SVR)SVR=secretValues().map(function(v){return new RegExp(v.replace(/[.*+?^${}()|[\]\\]/g,'\\$&'),'gi');});
for(var i=0;i<SVR.length;i++)s=s.replace(SVR[i],'•••');return s;}
function redParams(q){return q.split('&').map(function(p){var eq=p.indexOf('=');if(eq<0)return p;var k=p.slice(0,eq),n=k;try{n=decodeURIComponent(k.replace(/\+/g,' '));}catch(x){}return SECRETQ.test(n)?k+'=•••':p;}).join('&');}
function redUrl(u){var hash='',h=u.indexOf('#');if(h>=0){hash=u.slice(h+1);u=u.slice(0,h);}var q=u.indexOf('?');if(q>=0)u=u.slice(0,q+1)+redParams(u.slice(q+1));
if(h>=0)u+='#'+(hash.indexOf('=')>=0?redParams(hash):hash);return red(u);})JS");
    return helpers;
}

QString snapshotJS(bool full)
{
    const int labelMax = full ? 90 : 60;
    const int textMax = full ? 7000 : 1200;
    // The page is read as a CA would see it, a field named by its own
    // label where it has one, but no secret leaves it: the
    // value of a secret field is never shown, not as a value, a label, the
    // page text, the title or the address. Everything is read before the
    // refs are written, and lines are built only for the controls listed: a
    // write between reads would make the page lay itself out again for every
    // control.
    static const QString body = QStringLiteral(R"JS((function(){
var FULL=%1,LABEL_MAX=%2,TEXT_MAX=%3,VALUE_MAX=60,BRIEF_LINKS=45;
%4
function forLabel(e){if(!e.id)return '';try{var lb=document.querySelector('label[for="'+CSS.escape(e.id)+'"]');return lb&&typeof lb.innerText==='string'?lb.innerText:'';}catch(x){return '';}}
function label(e,hide){var picks=[attr(e,'aria-label'),forLabel(e),attr(e,'title'),attr(e,'placeholder'),hide?'':(typeof e.value==='string'?e.value:''),typeof e.innerText==='string'?e.innerText:''];var l='';for(var i=0;i<picks.length;i++){if(picks[i]&&picks[i].trim()){l=picks[i].trim();break;}}
return cut(red(l).replace(/\s+/g,' '),LABEL_MAX);}
var vis=controls(),acts=[],links=[];
for(var i=0;i<vis.length;i++){var tag=vis[i].tagName.toLowerCase(),type=attr(vis[i],'type');
(tag==='input'||tag==='select'||tag==='textarea'||tag==='button'||type==='submit'||type==='image'?acts:links).push(i);}
function line(i){var e=vis[i],tag=e.tagName.toLowerCase(),type=attr(e,'type'),hide=secret(e);
var l='r'+(i+1)+' '+tag+(type?'['+type+']':'')+' "'+label(e,hide)+'"';
if((tag==='input'||tag==='textarea')&&!hide&&typeof e.value==='string'&&e.value!=='')l+=' value="'+cut(red(e.value),VALUE_MAX)+'"';
if(e.disabled===true)l+=' (disabled)';
return l;}
var pick=[];if(FULL){for(var i=0;i<vis.length&&i<220;i++)pick.push(i);}else pick=acts.concat(links.slice(0,Math.max(0,BRIEF_LINKS-acts.length)));
var elements=pick.map(line),n=vis.length;
var text=document.body?(document.body.innerText||''):'';text=cut(red(text).replace(/\n{3,}/g,'\n\n'),TEXT_MAX);
numberControls(vis);
return JSON.stringify({url:redUrl(location.href),title:red(document.title),elements:elements,text:text,total:n,fields:acts.length});
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
