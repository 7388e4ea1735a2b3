#pragma once
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

class QWebEngineDownloadRequest;

// Files the portals hand out land, without asking, in the clients folder's
// "01 Inbox" and are listed here so the agent can file each one into the
// right client's folder. The list lives in memory for this run only.
class Downloads : public QObject {
    Q_OBJECT
public:
    struct Item {
        int id = 0;
        QString name;                 // file name in the inbox, or at its filed place
        std::optional<QString> url;   // the file's path once the destination is chosen
        qint64 bytes = 0;
        QString state;                // "downloading", "done", "failed: …" or "filed"
        QDateTime started;
        QString source;               // host the download came from
    };

    static Downloads &shared();

    const std::vector<Item> &items() const { return items_; }

    // The inbox folder, made on demand.
    static QString inbox();

    // Takes over a download a browser tab started: names it in the inbox,
    // accepts it and follows it to its end.
    void track(QWebEngineDownloadRequest *download);

    // The inbox path a download suggesting this name would get now.
    QString destinationFor(const QString &suggestedName) const;

    // Records that the agent moved the file of item id to path.
    void moveItem(int id, const QString &path);

    // Test hook: forget every item and start again at id 1.
    void reset();
    // Test hook: the list itself, to stage items in any state.
    std::vector<Item> &testItems() { return items_; }

    static constexpr int MAX_ITEMS = 50;

private:
    Item *find(int id);
    void finished(int id, QWebEngineDownloadRequest *download);

    std::vector<Item> items_;
    int nextId_ = 1;
    // Inbox paths promised to downloads still running: taken, though no file
    // exists there yet.
    QSet<QString> reserved_;
};
