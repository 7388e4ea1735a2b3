#pragma once
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// The one JSON client of the ERP side: every request to a client's ERP and
// the ERP-side calls to the cloud service. Each answer is either a JSON
// object or one plain sentence a tool can pass on as it stands; nothing is
// retried.
struct ErpClient {
    // Form fields, written in the map's order.
    using Form = QMap<QString, QString>;

    // Exactly one of `json` and `error` is present. `status` is the HTTP
    // status, 0 when no HTTP answer came.
    struct Answer {
        std::optional<QJsonObject> json;
        std::optional<QString> error;
        int status = 0;
        // The request left but its answer never came whole: a write may
        // have been carried out.
        bool mayHaveArrived = false;
    };
    using Done = std::function<void(const Answer &)>;

    // The time a request may take, in seconds.
    static constexpr double timeout = 45;
    // The most of an answer the client holds, in bytes: a page of records,
    // or a workbook the cloud built.
    static constexpr qint64 maxAnswer = 64LL * 1024 * 1024;

    // An ERP address as typed or received, cleaned: "https://" added when no
    // scheme is given, trailing "/" and one trailing "/api/cli/v1" removed.
    // None unless it is an https address with a host.
    static std::optional<QString> normalisedBase(const QString &raw);

    // Sends one request (a form body, else a JSON body, else none) with the
    // bearer token when given. `done` runs once, later, on the main thread.
    static void request(const QUrl &url, const std::optional<QString> &token, const QString &method,
                        const std::optional<Form> &form, const std::optional<QJsonObject> &json, Done done);
    // The same with a JSON body already serialised: an upload of several
    // megabytes is built off the main thread and only sent from it.
    static void requestJson(const QUrl &url, const std::optional<QString> &token, const QString &method,
                            const QByteArray &jsonBody, Done done);

    // A call of the ERP's API at base + "/api/cli/v1/" + path, the query
    // sorted by name. Answers 401, 429 and a 404 without an ERP message with
    // the sentences the engine needs. A bad address answers "Bad ERP
    // address." at once, on the calling thread, and sends nothing.
    static void call(const QString &base, const QString &token, const QString &method, const QString &path,
                     const QMap<QString, QString> &query, const std::optional<Form> &form, Done done);

    // name=value pairs joined by "&", values percent-encoded so that none of
    // "&=+?/" survives.
    static QByteArray formBody(const Form &form);
};
