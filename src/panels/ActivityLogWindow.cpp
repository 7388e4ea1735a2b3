#include "panels/ActivityLogWindow.h"

#include "core/Globals.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>

using PanelKit::fromBottom;

ActivityLogWindow::ActivityLogWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Network Activity"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    resize(780, 540);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit;
    text_->setReadOnly(true);
    summary_ = PanelKit::label(QString(), 11, Theme::muted());
    refresh_ = new QPushButton(QStringLiteral("Refresh"));
    connect(refresh_, &QPushButton::clicked, this, [this] { reload(); });
    build();
    QPointer<ActivityLogWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

ActivityLogWindow::~ActivityLogWindow() = default;

void ActivityLogWindow::build()
{
    PanelKit::prepare(this);
    const int W = std::max(520, width() > 0 ? width() : 780);
    const int H = std::max(360, height() > 0 ? height() : 540);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(W, H));
    std::vector<PanelKit::Anchor> anchors;

    QLabel *title = PanelKit::title(QStringLiteral("Network activity"));
    title->setParent(root);
    anchors.push_back({title, fromBottom(H, 22, H - 46, W - 160, 28), 0, 0, 1, 0});
    QLabel *subtitle =
        PanelKit::label(QStringLiteral("Everything Velto fetched, opened or ran \u2014 newest first."), 12, Theme::muted());
    subtitle->setParent(root);
    anchors.push_back({subtitle, fromBottom(H, 22, H - 66, W - 160, 16), 0, 0, 1, 0});
    summary_->setParent(root);
    summary_->setFont(Theme::font(11));
    PanelKit::setTextColor(summary_, Theme::muted());
    anchors.push_back({summary_, fromBottom(H, 22, H - 88, W - 44, 16), 0, 0, 1, 0});
    Theme::secondaryButton(refresh_);
    refresh_->setParent(root);
    anchors.push_back({refresh_, fromBottom(H, W - 118, H - 48, 96, 30), 1, 0, 0, 0});

    const QRect textFrame = fromBottom(H, 22, 22, W - 44, H - 122);
    QWidget *box = PanelKit::textArea(text_, textFrame, root, Theme::mono(11.5));
    Theme::card(box, 14);
    PanelKit::setTextColor(text_, Theme::ink2());
    // With the box's own edge: 12 across, 10 down.
    text_->document()->setDocumentMargin(10);
    anchors.push_back({box, textFrame, 0, 0, 1, 1});

    PanelKit::anchorChildren(root, QSize(W, H), anchors);
    for (QObject *o : root->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();
    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void ActivityLogWindow::repaint()
{
    const QString kept = text_->toPlainText();
    build();
    if (text_->toPlainText() != kept)
        text_->setPlainText(kept);
}

QString ActivityLogWindow::logPath()
{
    return HOME + QStringLiteral("/.local/share/opencode/log/opencode.log");
}

QString ActivityLogWindow::field(const QString &key, const QString &line)
{
    const qsizetype at = line.indexOf(key);
    if (at < 0)
        return QString();
    const QString rest = line.mid(at + key.size());
    if (rest.isEmpty())
        return QString();
    if (rest.startsWith(u'"')) {
        const qsizetype close = rest.indexOf(u'"', 1);
        return close < 0 ? rest.mid(1) : rest.mid(1, close - 1);
    }
    const qsizetype space = rest.indexOf(u' ');
    return space < 0 ? rest : rest.left(space);
}

QList<ActivityLogWindow::Row> ActivityLogWindow::rowsOf(const QString &text)
{
    QList<Row> rows;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.contains(QStringLiteral("message=evaluated")) || !line.contains(QStringLiteral("permission=")))
            continue;
        QString kind = field(QStringLiteral("permission="), line);
        if (kind != QStringLiteral("webfetch") && kind != QStringLiteral("bash") &&
            !kind.startsWith(QStringLiteral("browser_")) && !kind.startsWith(QStringLiteral("hallix_")))
            continue;
        if (kind.startsWith(QStringLiteral("browser_browser_")))
            kind.remove(0, 8);
        Row row;
        row.time = field(QStringLiteral("timestamp="), line).left(19).replace(u'T', u' ');
        row.kind = kind;
        row.target = field(QStringLiteral("pattern="), line);
        row.action = field(QStringLiteral("action.action="), line);
        rows << row;
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

QList<ActivityLogWindow::Row> ActivityLogWindow::rows()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Only the end of a long log: the newest decisions are there.
    const qint64 size = file.size();
    const bool cut = size > tailBytes;
    if (cut)
        file.seek(size - tailBytes);
    QByteArray data = file.read(tailBytes);
    if (cut) {
        // The first line was read from its middle; it is dropped whole.
        const qsizetype nl = data.indexOf('\n');
        data = nl < 0 ? QByteArray() : data.mid(nl + 1);
    }
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(data);
    if (decode.hasError())
        return {};
    return rowsOf(text);
}

QString ActivityLogWindow::line(const Row &row)
{
    const QString kind = row.kind.left(22).leftJustified(22, u' ');
    return (row.action == QStringLiteral("allow") ? QStringLiteral(" ") : QStringLiteral("!")) + u' ' + row.time +
           QStringLiteral("  ") + kind + QStringLiteral("  ") + row.target;
}

void ActivityLogWindow::reload()
{
    const QList<Row> all = rows();
    if (all.isEmpty()) {
        summary_->setText(QStringLiteral("Nothing yet. The engine writes this log as it works."));
        text_->setPlainText(QStringLiteral("No outbound activity recorded yet.\n\nThis reads the engine's own log, so it "
                                           "fills up as Velto works."));
        return;
    }
    const qsizetype fetches = std::count_if(all.begin(), all.end(),
                                            [](const Row &r) { return r.kind == QStringLiteral("webfetch"); });
    summary_->setText(QString::number(all.size()) + QStringLiteral(" calls \u00b7 ") + QString::number(fetches) +
                      QStringLiteral(" web fetches \u00b7 log: ~/.local/share/opencode/log/opencode.log"));
    QStringList lines;
    for (qsizetype i = 0; i < std::min<qsizetype>(800, all.size()); ++i)
        lines << line(all[i]);
    text_->setPlainText(lines.join(u'\n'));
    text_->moveCursor(QTextCursor::Start);
}
