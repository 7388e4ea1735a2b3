// The ERP reads and the dry run of a write: what each tool asks the ERP, and
// how every answer is turned into the text the engine gets.
#include "erp/ErpClient.h"
#include "core/JsonFields.h"
#include "erp/ErpText.h"
#include "erp/ErpTools.h"

#include "core/Characters.h"

#include <QUuid>
#include <algorithm>

namespace {

constexpr int kCut = 60000;

using JsonFields::text;

// A text argument that is not empty, as given.
std::optional<QString> given(const QJsonObject &args, const char *key)
{
    const std::optional<QString> v = text(args, key);
    if (!v || v->isEmpty())
        return std::nullopt;
    return v;
}

// The filters of erp_list: an object of field to value, or a list of
// {field, value} where a field named twice matches either value.
QJsonObject filtersOf(const QJsonValue &arg)
{
    QJsonObject out = arg.toObject();
    out.remove(QStringLiteral("_"));
    for (const QJsonValue &element : arg.toArray()) {
        const QJsonObject o = element.toObject();
        const QJsonValue field = o.value(QLatin1String("field"));
        const QJsonValue value = o.value(QLatin1String("value"));
        if (!field.isString() || value.isUndefined() || value.isNull())
            continue;
        const QString name = Characters::trimSpacesTabs(field.toString());
        if (name.isEmpty())
            continue;
        const auto it = out.constFind(name);
        if (it == out.constEnd()) {
            out.insert(name, value);
        } else if (it->isArray()) {
            QJsonArray both = it->toArray();
            both.append(value);
            out.insert(name, both);
        } else {
            out.insert(name, QJsonArray{*it, value});
        }
    }
    return out;
}

// Keeps only the named keys in each row of the answer's "rows".
QJsonObject onlyColumns(QJsonObject json, const QStringList &columns)
{
    const QJsonValue rows = json.value(QLatin1String("rows"));
    if (columns.isEmpty() || !rows.isArray())
        return json;
    QJsonArray kept;
    for (const QJsonValue &row : rows.toArray()) {
        if (!row.isObject())
            return json;
        const QJsonObject whole = row.toObject();
        QJsonObject trimmed;
        for (const QString &column : columns)
            if (whole.contains(column))
                trimmed.insert(column, whole.value(column));
        kept.append(trimmed);
    }
    json.insert(QStringLiteral("rows"), kept);
    return json;
}

// The answer to a dry run: the ERP's preview and a new pending id, or its
// refusal. Nothing is kept unless the ERP previewed the write.
void dryRun(const QString &header, const ErpPending &write, const ErpClient::Answer &a, const Tool::Done &done)
{
    if (!a.json) {
        done(header + QStringLiteral("The ERP refused the dry run: ") + a.error.value_or(QStringLiteral("unknown error")) +
                 QStringLiteral("\nFix the data (erp_schema says what it needs) and prepare again."),
             true);
        return;
    }
    ErpPending stored = write;
    stored.preview = a.json->contains(QLatin1String("result")) ? a.json->value(QLatin1String("result"))
                                                               : QJsonValue(QJsonObject());
    stored.created = ErpTools::now();
    ErpTools::sweep();
    const QString id = QLatin1Char('p') + QUuid::createUuid().toString(QUuid::Id128).left(12).toLower();
    ErpTools::pending.insert(id, stored);
    done(header + QStringLiteral("DRY RUN — nothing was written.\n\n") + ErpText::json(stored.preview) +
             QStringLiteral("\n\npending_id: ") + id +
             QStringLiteral("\nShow the CA what this will do. When they want it, call erp_commit with this pending_id "
                            "— Velto will ask them to approve it in a dialog."),
         false);
}

void prepare(const QJsonObject &args, const ErpConnection &c, const QString &token, const QString &resource,
             const QString &header, const Tool::Done &done)
{
    if (!c.scopes.contains(QStringLiteral("write:") + resource)) {
        done(header + c.company + QStringLiteral(" allowed Velto to ") + c.allowed() + QStringLiteral(". Writing ") +
                 resource +
                 QStringLiteral(" needs their approval — the CA sends a new request from Velto → Ledgora ERP… with "
                                "\"raise invoices\" ticked, and the client ticks it when approving."),
             true);
        return;
    }
    const QString action = text(args, "action").value_or(QStringLiteral("create"));
    if (action != QLatin1String("create") && action != QLatin1String("update")) {
        done(QStringLiteral("action is create or update."), true);
        return;
    }
    QJsonValue data = args.value(QLatin1String("data"));
    if (data.isString()) {
        const QJsonDocument parsed = QJsonDocument::fromJson(data.toString().toUtf8());
        if (parsed.isObject())
            data = parsed.object();
    }
    if (!data.isObject() || data.toObject().isEmpty()) {
        done(QStringLiteral("data must be a JSON object with the fields erp_schema lists."), true);
        return;
    }
    const ErpPending write{c, resource, action,
                           QString::fromUtf8(QJsonDocument(data.toObject()).toJson(QJsonDocument::Compact)), {}, 0};
    ErpClient::call(c.base, token, QStringLiteral("POST"), QStringLiteral("write/") + resource + QLatin1Char('/') + action,
                    {}, ErpClient::Form{{QStringLiteral("data"), write.data}, {QStringLiteral("commit"), QStringLiteral("0")}},
                    [header, write, done](const ErpClient::Answer &a) { dryRun(header, write, a, done); });
}

} // namespace

void ErpTools::run(const QString &name, const QJsonObject &args, const ErpConnection &c, const QString &token,
                   const QString &resource, const Tool::Done &done)
{
    const QString head = header(c);
    const auto get = [&](const QString &path, const QMap<QString, QString> &query, bool compact = false,
                         const QStringList &columns = {}) {
        ErpClient::call(c.base, token, QStringLiteral("GET"), path, query, std::nullopt,
                        [head, compact, columns, done](const ErpClient::Answer &a) {
                            reply(head, a.json ? std::optional(onlyColumns(*a.json, columns)) : std::nullopt, a.error,
                                  done, compact);
                        });
    };
    const auto needsResource = [&] {
        if (!resource.isEmpty())
            return false;
        done(QStringLiteral("resource is required."), true);
        return true;
    };

    if (name == QLatin1String("erp_resources")) {
        get(QStringLiteral("resources"), {});
    } else if (name == QLatin1String("erp_schema")) {
        if (!needsResource())
            get(QStringLiteral("schema/") + resource, {});
    } else if (name == QLatin1String("erp_list")) {
        if (needsResource())
            return;
        QMap<QString, QString> query;
        const QJsonObject filters = filtersOf(args.value(QLatin1String("filters")));
        if (!filters.isEmpty())
            query.insert(QStringLiteral("filters"), QString::fromUtf8(QJsonDocument(filters).toJson(QJsonDocument::Compact)));
        for (const char *key : {"search", "from", "to"})
            if (const auto v = given(args, key))
                query.insert(QLatin1String(key), *v);
        const std::optional<qint64> limit = JsonFields::wholeNumber(args.value(QLatin1String("limit")));
        query.insert(QStringLiteral("limit"), QString::number(limit ? std::clamp<qint64>(*limit, 1, 500) : 100));
        if (const std::optional<qint64> offset = JsonFields::wholeNumber(args.value(QLatin1String("offset"))); offset && *offset >= 1)
            query.insert(QStringLiteral("offset"), QString::number(*offset));
        const QJsonValue oldest = args.value(QLatin1String("oldest_first"));
        query.insert(QStringLiteral("desc"), oldest.isBool() && oldest.toBool() ? QStringLiteral("0") : QStringLiteral("1"));
        QStringList columns;
        for (const QJsonValue &column : args.value(QLatin1String("columns")).toArray())
            if (column.isString())
                columns.append(column.toString());
        get(QStringLiteral("list/") + resource, query, false, columns);
    } else if (name == QLatin1String("erp_gst")) {
        const QString kind = text(args, "kind").value_or(QString());
        if (kind != QLatin1String("sales") && kind != QLatin1String("purchases")) {
            done(QStringLiteral("kind is sales or purchases."), true);
            return;
        }
        QMap<QString, QString> query{{QStringLiteral("from"), text(args, "from").value_or(QString())},
                                     {QStringLiteral("to"), text(args, "to").value_or(QString())}};
        const QJsonValue detail = args.value(QLatin1String("invoice_detail"));
        if (detail.isBool() && detail.toBool())
            query.insert(QStringLiteral("detail"), QStringLiteral("1"));
        get(QStringLiteral("reports/gst/") + kind, query, true);
    } else if (name == QLatin1String("erp_gstr1")) {
        gstr1(args, c, token, head, done);
    } else if (name == QLatin1String("erp_get")) {
        if (needsResource())
            return;
        const std::optional<qint64> id = JsonFields::wholeNumber(args.value(QLatin1String("id")));
        if (!id || *id < 1) {
            done(QStringLiteral("id is required."), true);
            return;
        }
        get(QStringLiteral("get/") + resource + QLatin1Char('/') + QString::number(*id), {});
    } else if (name == QLatin1String("erp_trial_balance")) {
        QMap<QString, QString> query;
        for (const char *key : {"from", "to"})
            if (const auto v = given(args, key))
                query.insert(QLatin1String(key), *v);
        get(QStringLiteral("accounting/trial-balance"), query);
    } else if (name == QLatin1String("erp_prepare")) {
        if (!needsResource())
            prepare(args, c, token, resource, head, done);
    } else {
        done(QStringLiteral("Unknown tool: ") + name, true);
    }
}

void ErpTools::reply(const QString &header, const std::optional<QJsonObject> &json, const std::optional<QString> &error,
                     const Tool::Done &done, bool compact)
{
    if (!json) {
        done(header + error.value_or(QStringLiteral("The ERP did not answer.")), true);
        return;
    }
    QJsonObject shown = *json;
    shown.remove(QStringLiteral("success"));
    QString out = header + ErpText::json(shown, compact);
    const QString cut = Characters::left(out, kCut);
    if (cut.size() < out.size())
        out = cut + QStringLiteral("\n… cut at ") + QString::number(kCut) +
              QStringLiteral(" characters. Ask for fewer rows (limit), fewer columns (columns), or a narrower from/to.");
    done(out, false);
}


QMap<QString, QString> ErpTools::pairs(const QJsonValue &value, const QString &key, const QString &valueKey, bool numbers)
{
    const auto read = [numbers](const QJsonValue &v) -> std::optional<QString> {
        if (v.isString()) {
            const QString t = Characters::trimSpacesTabs(v.toString());
            if (!t.isEmpty())
                return t;
        } else if (numbers && v.isDouble()) {
            return ErpText::plain(v);
        }
        return std::nullopt;
    };
    QMap<QString, QString> out;
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.constBegin(); it != o.constEnd(); ++it)
            if (it.key() != QLatin1String("_"))
                if (const auto v = read(it.value()))
                    out.insert(it.key(), *v);
    } else if (value.isArray()) {
        for (const QJsonValue &element : value.toArray()) {
            const QJsonObject o = element.toObject();
            const auto k = read(o.value(key));
            const auto v = read(o.value(valueKey));
            if (k && v)
                out.insert(*k, *v);
        }
    }
    return out;
}
