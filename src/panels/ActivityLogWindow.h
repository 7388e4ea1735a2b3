#pragma once
// "Network Activity": what the engine fetched from the web, ran in the shell
// and did in the browser pane, newest first, with a mark on every step the
// engine was not simply allowed to take. The program keeps no log of its own;
// the window reads the end of the engine's own log. Main thread only.
#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class PanelThemeWatch;

class ActivityLogWindow : public QWidget {
    Q_OBJECT
public:
    struct Row {
        QString time, kind, target, action;
    };

    explicit ActivityLogWindow(QWidget *parent = nullptr);
    ~ActivityLogWindow() override;

    void reload();
    void repaint();

    // HOME/.local/share/opencode/log/opencode.log
    static QString logPath();
    // Only this much of the log's end is read.
    static inline qint64 tailBytes = 4 * 1024 * 1024;
    // The engine's permission decisions in the log, newest first.
    static QList<Row> rows();
    // The rows of a log text, newest first.
    static QList<Row> rowsOf(const QString &text);
    // The value of a key in a log line.
    static QString field(const QString &key, const QString &line);
    // One shown line of a row.
    static QString line(const Row &row);

    QPlainTextEdit *text() const { return text_; }
    QLabel *summary() const { return summary_; }

private:
    void build();

    QPlainTextEdit *text_ = nullptr;
    QLabel *summary_ = nullptr;
    QPushButton *refresh_ = nullptr;
    std::unique_ptr<PanelThemeWatch> watch_;
    QWidget *root_ = nullptr;
};
