#include "toolserver/RecordTools.h"
#include "core/Characters.h"
#include "erp/ErpTools.h"
#include "erp/WorkPaths.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "recorder/PaneRecorder.h"
#include "toolserver/PageTools.h"
#include "toolserver/PaneTool.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QWidget>
#include <cmath>

namespace RecordTools {

namespace {

using PaneTool::answer;

QString stringArg(const QJsonObject &args, const char *key, const QString &fallback = {})
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isString() ? v.toString() : fallback;
}

bool keptInName(char32_t c)
{
    if (c == U' ' || c == U'-' || c == U'_')
        return true;
    // Letters, marks and numbers of any script.
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

// Whole seconds, cut toward zero.
qint64 whole(double seconds)
{
    return qint64(std::trunc(seconds));
}

// A table of field kinds and frame counts in words: "pan 3, pwd 12", or "none".
QString counts(const QMap<QString, qint64> &table)
{
    if (table.isEmpty())
        return QStringLiteral("none");
    QStringList parts;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        parts << it.key() + QLatin1Char(' ') + QString::number(it.value());
    return parts.join(QStringLiteral(", "));
}

QString stepLine(const PaneRecorder::Step &step)
{
    QString kind = Characters::left(step.kind, 5);
    kind += QString(std::max<qsizetype>(0, 5 - Characters::count(kind)), QLatin1Char(' '));
    return QString::asprintf("%6.1f", step.at) + QStringLiteral(" s  ") + kind + QStringLiteral("  ") + step.title;
}

} // namespace

QString cleanName(const QString &name)
{
    QString kept;
    for (const char32_t c : name.toUcs4())
        kept += keptInName(c) ? QString::fromUcs4(&c, 1) : QStringLiteral(" ");
    return Characters::left(kept.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(QLatin1Char(' ')), 60);
}

Folder recordFolder(const QJsonObject &args)
{
    const QString client = Characters::trimSpacesTabs(stringArg(args, "client"));
    const QString name = cleanName(Characters::trimSpacesTabs(stringArg(args, "name")));
    if (name.isEmpty())
        return {std::nullopt, QStringLiteral("Give the video a short name.")};
    const QString root = WorkPaths::root();
    QString base;
    const QString lower = client.toLower();
    if (client.isEmpty() || lower == QLatin1String("00 firm") || lower == QLatin1String("firm")) {
        base = QDir(root).filePath(QStringLiteral("00 Firm"));
    } else {
        const ErpTools::ClientFolder found = ErpTools::clientFolder(client);
        if (!found.refusal.isEmpty())
            return {std::nullopt, found.refusal};
        if (!found.path)
            return {std::nullopt, QStringLiteral("No client folder called \"") + client +
                                      QStringLiteral("\" in the workspace. Use the exact folder name, or 00 Firm.")};
        base = *found.path;
    }
    const QString folder = QDir(base).filePath(QStringLiteral("Videos/") + name);
    // A client folder (or its Videos folder) that is a link leading out of
    // the workspace would put the recording outside it.
    if (!WorkPaths::inside(WorkPaths::resolved(folder), root))
        return {std::nullopt, QStringLiteral("The folder for \"") + name +
                                  QStringLiteral("\" leads outside the workspace. Use a client folder inside it, or "
                                                 "00 Firm.")};
    return {folder, QString()};
}

QVector<RecordRender::Line> narration(const QJsonValue &lines)
{
    QVector<RecordRender::Line> out;
    for (const QJsonValue &item : lines.toArray()) {
        const QJsonObject o = item.toObject();
        const QJsonValue text = o.value(QLatin1String("text"));
        if (!text.isString())
            continue;
        const QJsonValue at = o.value(QLatin1String("at"));
        const double seconds = at.isDouble() ? at.toDouble() : 0;
        out.append(RecordRender::Line{std::max(0.0, seconds), Characters::left(text.toString(), 300)});
    }
    return out;
}

void start(QObject &paneObject, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = PaneTool::paneOf(paneObject, done);
    if (!pane)
        return;
    const Folder resolved = recordFolder(args);
    if (!resolved.path) {
        done(answer(resolved.error, true));
        return;
    }
    // A name already recorded gets "-2", "-3", ... rather than being overwritten.
    QString folder = *resolved.path;
    const QString parent = QFileInfo(folder).path();
    const QString cleaned = QFileInfo(folder).fileName();
    for (int n = 2; QFileInfo::exists(QDir(folder).filePath(QStringLiteral("raw.mp4"))); ++n)
        folder = QDir(parent).filePath(cleaned + QLatin1Char('-') + QString::number(n));
    const QString name = QFileInfo(folder).fileName();

    if (QWidget *window = pane->window()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    Dialogs::Alert ask;
    ask.title = QStringLiteral("Record the Browser pane?");
    ask.text = QStringLiteral("Velto will record what the Browser pane shows into\n") + BrowserMCP::relative(folder) +
               QStringLiteral("\n\nPasswords, OTPs, captchas, PAN, Aadhaar, mobile numbers, emails and bank numbers "
                              "are hidden in the video. Nothing outside the Browser pane is recorded. Stop any time "
                              "from the REC button at the top.");
    ask.buttons = {QStringLiteral("Start recording"), QStringLiteral("Not now")};
    if (Dialogs::ask(ask) != 0) {
        done(answer(QStringLiteral("The CA chose not to record. Carry on without a recording.")));
        return;
    }
    if (const auto error = PaneRecorder::shared().start(pane, folder, name)) {
        done(answer(error->description(), true));
        return;
    }
    done(answer(QStringLiteral("Recording into ") + BrowserMCP::relative(folder) +
                QStringLiteral("/. Call record_mark at each step, and record_stop when the work is done.")));
}

void mark(QObject &, const QJsonObject &args, const BrowserMCP::Done &done)
{
    const QString title = Characters::trimSpacesTabs(stringArg(args, "title"));
    if (title.isEmpty()) {
        done(answer(QStringLiteral("Give the step a title."), true));
        return;
    }
    const std::optional<PaneRecorder::Step> step = PaneRecorder::shared().mark(title);
    if (!step) {
        done(answer(QStringLiteral("Nothing is being recorded. Call record_start first."), true));
        return;
    }
    done(answer(QStringLiteral("Step ") + QString::number(step->n) + QStringLiteral(" at ") +
                QString::asprintf("%.1f", step->at) + QStringLiteral(" s: ") + step->title));
}

void status(QObject &, const QJsonObject &, const BrowserMCP::Done &done)
{
    const PaneRecorder &recorder = PaneRecorder::shared();
    if (recorder.isRecording()) {
        done(answer(QStringLiteral("Recording ") + recorder.name() + QStringLiteral(" for ") +
                    QString::number(whole(recorder.seconds())) + QStringLiteral(" s.")));
        return;
    }
    const std::optional<PaneRecorder::Summary> last = recorder.lastSummary();
    if (!last) {
        done(answer(QStringLiteral("Not recording.")));
        return;
    }
    done(answer(QStringLiteral("Not recording. Last: ") + last->name + QStringLiteral(", ") +
                QString::number(whole(last->seconds)) + QStringLiteral(" s, ") + QString::number(last->steps.size()) +
                QStringLiteral(" steps.")));
}

void stop(QObject &, const QJsonObject &, const BrowserMCP::Done &done)
{
    PaneRecorder::shared().stop([done](const PaneRecorder::Outcome &outcome) {
        if (outcome.error)
            done(answer(outcome.error->description(), true));
        else if (outcome.summary)
            done(answer(BrowserMCP::stopReport(*outcome.summary)));
        else
            done(answer(PaneRecorder::RecordError::notRecording().description(), true));
    });
}

void render(QObject &, const QJsonObject &args, const BrowserMCP::Done &done)
{
    // A recording still being finished has no complete video yet either.
    if (PaneRecorder::shared().isRecording() || PaneRecorder::shared().isFinishing()) {
        done(answer(QStringLiteral("Stop the recording first (record_stop)."), true));
        return;
    }
    const Folder resolved = recordFolder(args);
    if (!resolved.path) {
        done(answer(resolved.error, true));
        return;
    }
    const QString voice = stringArg(args, "voice", QStringLiteral("system"));
    if (voice == QLatin1String("cloud") || voice == QLatin1String("mine")) {
        done(answer(QStringLiteral("The Hallix cloud voice and the CA's own voice arrive in the next update. Use voice "
                                   "system (the computer's voice) or none for now."),
                    true));
        return;
    }
    const QJsonValue captions = args.value(QLatin1String("captions"));
    const QString folder = *resolved.path;
    RecordRender::render(folder, QFileInfo(folder).fileName(), narration(args.value(QLatin1String("lines"))), voice,
                         stringArg(args, "language", QStringLiteral("en")), captions.isBool() ? captions.toBool() : true,
                         [done](const RecordRender::Result &result) {
                             Dispatch::onMain([done, result] {
                                 if (!result.ok() || !result.output) {
                                     done(answer(result.error ? result.error->description()
                                                              : QStringLiteral("The video could not be made."),
                                                 true));
                                     return;
                                 }
                                 const RecordRender::Output &out = *result.output;
                                 QString text = QStringLiteral("Video ready: ") + BrowserMCP::relative(out.video) +
                                                QStringLiteral(" (") + PageTools::decimal(out.seconds) +
                                                QStringLiteral(" s)\nCaptions: ") + BrowserMCP::relative(out.srt) +
                                                QStringLiteral("\nPoster: ") + BrowserMCP::relative(out.poster);
                                 if (!out.notes.isEmpty())
                                     text += QStringLiteral("\nChanged: ") + out.notes.join(QStringLiteral("; "));
                                 done(answer(text));
                             });
                         });
}

} // namespace RecordTools

QString BrowserMCP::stopReport(const PaneRecorder::Summary &summary)
{
    QStringList steps;
    for (const PaneRecorder::Step &step : summary.steps)
        steps << RecordTools::stepLine(step);
    const QStringList lines{
        QStringLiteral("Recorded ") + summary.name + QStringLiteral(": ") + PageTools::decimal(summary.seconds) +
            QStringLiteral(" s, ") + QString::number(summary.framesWritten) + QStringLiteral(" frames written, ") +
            QString::number(summary.framesDropped) + QStringLiteral(" left out because they could not be checked."),
        QStringLiteral("Hidden by the page check (field kind and frames): ") + RecordTools::counts(summary.hiddenByPage) +
            QStringLiteral(". Caught by OCR on top: ") + RecordTools::counts(summary.hiddenByOCR) + QStringLiteral("."),
        QString(),
        QStringLiteral("Steps (seconds · kind · label):"),
        steps.isEmpty() ? QStringLiteral("(none logged)") : steps.join(QLatin1Char('\n')),
        QString(),
        QStringLiteral("Next: write one narration line per logical step (8 to 16 words, the CA's language, no figures "
                       "or identity numbers), show them to the CA, then call record_render with client, name \"") +
            summary.name + QStringLiteral("\", lines [{at, text}], voice and language."),
    };
    return lines.join(QLatin1Char('\n'));
}
