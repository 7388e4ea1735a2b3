// The seven mail tools: six reads over the bridge and one draft.
#include "connectors/MailTools.h"
#include "connectors/ConnectorText.h"
#include "core/JsonFields.h"
#include "platform/Dispatch.h"

#include <QDate>
#include <QDateTime>
#include <algorithm>

using ConnectorText::descriptor;
using ConnectorText::property;

namespace {

const QString kAccounts = QStringLiteral("mail_accounts");
const QString kSearch = QStringLiteral("mail_search");
const QString kThread = QStringLiteral("mail_thread");
const QString kMessage = QStringLiteral("mail_message");
const QString kContacts = QStringLiteral("mail_contacts");
const QString kCalendar = QStringLiteral("mail_calendar");
const QString kCompose = QStringLiteral("mail_compose");

// "limit" as a JSON whole number, clamped; absent otherwise.
void addLimit(QMap<QString, QString> &query, const QJsonObject &args, qint64 most)
{
    if (const std::optional<qint64> limit = JsonFields::integer(args, "limit"))
        query.insert(QStringLiteral("limit"), QString::number(std::clamp<qint64>(*limit, 1, most)));
}

void read(const QString &path, const QMap<QString, QString> &query, const Tool::Done &done)
{
    MailBridge::get(path, query, [done](const std::optional<QJsonObject> &reply, const QString &error) {
        if (reply)
            done(ConnectorText::pretty(*reply), false);
        else
            done(error, true);
    });
}

void compose(const QJsonObject &args, const Tool::Done &done)
{
    const QString to = JsonFields::text(args, "to").value_or(QString()).trimmed();
    const QString subject = JsonFields::text(args, "subject").value_or(QString());
    const QString body = JsonFields::text(args, "body").value_or(QString());
    if (to.isEmpty() || subject.isEmpty() || body.isEmpty()) {
        done(QStringLiteral("mail_compose needs to, subject and body."), true);
        return;
    }
    QList<QPair<QString, QString>> items{{QStringLiteral("subject"), subject}, {QStringLiteral("body"), body}};
    if (const std::optional<QString> cc = JsonFields::text(args, "cc"); cc && !cc->isEmpty())
        items.append({QStringLiteral("cc"), *cc});
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(to);
    url.setQuery(ConnectorText::encodedQuery(items), QUrl::StrictMode);
    if (!url.isValid()) {
        done(QStringLiteral("That recipient does not look like an address."), true);
        return;
    }
    auto open = [url, to, done] {
        if (MailTools::openDraft(url))
            done(QStringLiteral("The draft is open in the CA's mail app, addressed to ") + to +
                     QStringLiteral(". Tell them it is waiting and that pressing Send is theirs \u2014 do not say it "
                                    "was sent."),
                 false);
        else
            done(QStringLiteral("This computer has no mail app to open the draft in. Give the CA the text to copy, or "
                                "send it through Hallix with hallix_send_mail after they say yes."),
                 true);
    };
    if (Dispatch::isMainThread())
        open();
    else
        Dispatch::onMain(open);
}

} // namespace

QSet<QString> MailTools::names()
{
    return {kAccounts, kSearch, kThread, kMessage, kContacts, kCalendar, kCompose};
}

QJsonArray MailTools::definitions(Tool::Obj obj)
{
    const QString str = QStringLiteral("string");
    const QString integer = QStringLiteral("integer");
    return QJsonArray{
        descriptor(kAccounts,
             QStringLiteral("The mailboxes connected in Hallix Mail on this computer (address, provider, sync state). "
                            "Call once before the other mail tools so you name the right account."),
             obj({}, {})),
        descriptor(kSearch,
             QStringLiteral("Search the firm's own mailbox \u2014 the same search the app uses, so from:, to:, subject: "
                            "and plain words all work. Returns threads with the subject, who is in them, when the last "
                            "message came and whether it is unread. Use it to find what a client actually sent before "
                            "asking them again."),
             obj(QJsonObject{{QStringLiteral("query"), property(str, QStringLiteral("e.g. from:kelvar 2B, subject:notice, GSTR-9"))},
                             {QStringLiteral("limit"), property(integer, QStringLiteral("threads to return, default 20"))}},
                 {QStringLiteral("query")})),
        descriptor(kThread,
             QStringLiteral("Every message in one thread, oldest first: sender, recipients, date and a snippet. Use "
                            "after mail_search to see how a conversation went."),
             obj(QJsonObject{{QStringLiteral("thread_id"), property(integer)}}, {QStringLiteral("thread_id")})),
        descriptor(kMessage,
             QStringLiteral("One message in full, with its plain-text body. Read this before quoting a figure a client "
                            "sent by mail, and cite the sender and date when you use it."),
             obj(QJsonObject{{QStringLiteral("message_id"), property(integer)}}, {QStringLiteral("message_id")})),
        descriptor(kContacts,
             QStringLiteral("Look up a client's people in Hallix Mail's contacts: name, address, phone, company. Use it "
                            "to address a mail correctly instead of guessing the recipient."),
             obj(QJsonObject{{QStringLiteral("query"), property(str, QStringLiteral("name, company or part of an address"))},
                             {QStringLiteral("limit"), property(integer, QStringLiteral("default 25"))}},
                 {})),
        descriptor(kCalendar,
             QStringLiteral("The CA's own calendar from Hallix Mail between two dates: title, time, place and joining "
                            "link. Use it before promising a call or planning a filing week."),
             obj(QJsonObject{{QStringLiteral("from"), property(str, QStringLiteral("YYYY-MM-DD, default today"))},
                             {QStringLiteral("to"), property(str, QStringLiteral("YYYY-MM-DD, default two weeks ahead"))}},
                 {})),
        descriptor(kCompose,
             QStringLiteral("Open a reply or a new mail in the CA's own mail app, filled in and waiting. Velto never "
                            "sends from the firm's mailbox: the CA reads the draft and presses Send. For a mail that "
                            "should go out through Hallix with the firm's templates and its own record, use "
                            "hallix_send_mail instead."),
             obj(QJsonObject{{QStringLiteral("to"), property(str, QStringLiteral("one address, or several separated by commas"))},
                             {QStringLiteral("subject"), property(str)},
                             {QStringLiteral("body"), property(str, QStringLiteral("the message, plain text"))},
                             {QStringLiteral("cc"), property(str)}},
                 {QStringLiteral("to"), QStringLiteral("subject"), QStringLiteral("body")})),
    };
}

void MailTools::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    QMap<QString, QString> query;
    if (name == kAccounts) {
        read(QStringLiteral("/v1/accounts"), query, done);
    } else if (name == kSearch) {
        const QString q = JsonFields::text(args, "query").value_or(QString()).trimmed();
        if (q.isEmpty()) {
            done(QStringLiteral("Say what to search for."), true);
            return;
        }
        query.insert(QStringLiteral("q"), q);
        addLimit(query, args, 100);
        read(QStringLiteral("/v1/search"), query, done);
    } else if (name == kThread || name == kMessage) {
        const bool thread = name == kThread;
        const std::optional<qint64> id = JsonFields::wholeNumber(args.value(thread ? QLatin1String("thread_id") : QLatin1String("message_id")));
        if (!id) {
            done(thread ? QStringLiteral("thread_id is needed \u2014 mail_search returns it.")
                        : QStringLiteral("message_id is needed \u2014 mail_thread returns it."),
                 true);
            return;
        }
        query.insert(QStringLiteral("id"), QString::number(*id));
        read(thread ? QStringLiteral("/v1/thread") : QStringLiteral("/v1/message"), query, done);
    } else if (name == kContacts) {
        query.insert(QStringLiteral("q"), JsonFields::text(args, "query").value_or(QString()));
        addLimit(query, args, 200);
        read(QStringLiteral("/v1/contacts"), query, done);
    } else if (name == kCalendar) {
        for (const char *key : {"from", "to"}) {
            const std::optional<QString> date = JsonFields::text(args, key);
            if (!date || date->isEmpty())
                continue;
            if (const std::optional<qint64> ms = msSince(*date))
                query.insert(QLatin1String(key), QString::number(*ms));
        }
        read(QStringLiteral("/v1/calendar"), query, done);
    } else if (name == kCompose) {
        compose(args, done);
    } else {
        done(QStringLiteral("Velto has no mail tool called ") + name + QLatin1Char('.'), true);
    }
}

ToolFamily MailTools::family()
{
    return ToolFamily{&MailTools::names, &MailTools::definitions, &MailTools::call};
}

std::optional<qint64> MailTools::msSince(const QString &date)
{
    const QDate day = QDate::fromString(date, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        return std::nullopt;
    const QDateTime midnight = day.startOfDay(Qt::LocalTime);
    if (!midnight.isValid())
        return std::nullopt;
    return midnight.toMSecsSinceEpoch();
}
