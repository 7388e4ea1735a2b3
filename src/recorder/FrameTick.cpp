// The frame timer's tick: ask the page what to hide and what happened, take
// the view's picture and hand both to the frame writer; and the page log that
// turns the page's events into steps and clicks.
#include "browser/BrowserPane.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "core/Characters.h"
#include "recorder/Recording.h"

#include <QJsonDocument>
#include <QUrl>

namespace {

// Trimmed of space separators and tabs only: line breaks stay.
QString trimSpaces(const QString &s)
{
    const auto isSpace = Characters::isHorizontalSpace;
    qsizetype a = 0, b = s.size();
    while (a < b && isSpace(s.at(a)))
        ++a;
    while (b > a && isSpace(s.at(b - 1)))
        --b;
    return s.mid(a, b - a);
}

double num(const QJsonObject &o, const char *key, double fallback = 0)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? v.toDouble() : fallback;
}

QString str(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

// An array of objects, taken whole or not at all.
QJsonArray objects(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isArray())
        return {};
    const QJsonArray a = v.toArray();
    for (const QJsonValue &e : a)
        if (!e.isObject())
            return {};
    return a;
}

} // namespace

void PaneRecorder::tick()
{
    if (!isRecording_ || inFlight_)
        return;
    // A writer still checking this many frames: wait rather than pile up more.
    if (!capture_ && pendingWrites_ >= PANE_BACKLOG)
        return;
    QPointer<PaneRecorder> self(this);
    auto rec = rec_;

    if (capture_) {
        inFlight_ = true;
        capture_([self, rec](const QImage &image) {
            if (!self || self->rec_ != rec)
                return;
            const double t = self->now();
            self->inFlight_ = false;
            if (!self->isRecording_ || image.isNull()) {
                ++rec->dropped;
                return;
            }
            if (self->pendingWrites_ >= WINDOW_BACKLOG) {
                ++rec->dropped;
                return;
            }
            self->queueFrame(image, {}, image.width(), image.height(), t);
        });
        return;
    }

    BrowserTab *tab = pane_ ? pane_->activeTab() : nullptr;
    WebView *web = tab ? tab->web() : nullptr;
    if (!web || !web->isVisible() || web->width() <= 10) {
        ++rec->dropped;
        tellTick();
        return;
    }

    inFlight_ = true;
    // The privacy script runs in the program's own script world: a page can
    // neither see it nor put a VeltoRecord of its own in its place.
    const QString script = pageCheck(privacySource_, markedSelectors(web->url().host()));
    QPointer<WebView> view(web);
    web->evaluate(script, [self, rec, view](const WebView::ScriptResult &r) {
        if (!self || self->rec_ != rec)
            return;
        if (!self->isRecording_) {
            self->inFlight_ = false;
            return;
        }
        const QJsonObject reply = r.ok() && r.value.typeId() == QMetaType::QVariantMap
                                      ? QJsonObject::fromVariantMap(r.value.toMap())
                                      : QJsonObject();
        if (reply.value(QStringLiteral("ok")) != QJsonValue(true) || !view) {
            ++rec->dropped;
            self->inFlight_ = false;
            self->tellTick();
            return;
        }
        self->log(reply);
        // One grab of the same view the page check ran in, even if another
        // tab is shown by now.
        const QImage image = view->snapshot();
        const double t = self->now();
        if (!self->isRecording_ || image.isNull()) {
            ++rec->dropped;
            self->inFlight_ = false;
            return;
        }
        self->confirmPlaces(view, image, reply, t);
    }, WebView::World::Isolated);
}

void PaneRecorder::confirmPlaces(QPointer<WebView> view, const QImage &image, const QJsonObject &reply, double t)
{
    // The page may have scrolled between its check and the picture (its own
    // timer, the CA's wheel): the picture then shows values where the check
    // saw none. When the page no longer stands where the check saw it, it is
    // checked again and the frame hides both sets of places.
    QPointer<PaneRecorder> self(this);
    auto rec = rec_;
    auto queue = [self, rec, image, t](const QJsonObject &r, const QJsonArray &rects, const QJsonArray &pixels) {
        if (!self || self->rec_ != rec)
            return;
        self->inFlight_ = false;
        if (!self->isRecording_)
            return;
        self->queueFrame(image, rects, num(r, "vw", image.width()), num(r, "vh", image.height()), t, pixels);
    };
    const QString before = str(reply, "scroll");
    if (!view) {
        queue(reply, objects(reply, "rects"), objects(reply, "pixels"));
        return;
    }
    view->evaluate(QStringLiteral("window.VeltoRecord ? VeltoRecord.scroll() : ''"),
                   [self, rec, view, reply, before, queue](const WebView::ScriptResult &r) {
        if (!self || self->rec_ != rec)
            return;
        if (r.ok() && r.value.toString() == before && !before.isEmpty()) {
            queue(reply, objects(reply, "rects"), objects(reply, "pixels"));
            return;
        }
        if (!view || !self->isRecording_) {
            self->inFlight_ = false;
            if (self->isRecording_)
                ++rec->dropped;
            return;
        }
        const QString script = pageCheck(self->privacySource_, markedSelectors(view->url().host()));
        view->evaluate(script, [self, rec, reply, queue](const WebView::ScriptResult &again) {
            if (!self || self->rec_ != rec)
                return;
            const QJsonObject second = again.ok() && again.value.typeId() == QMetaType::QVariantMap
                                           ? QJsonObject::fromVariantMap(again.value.toMap())
                                           : QJsonObject();
            if (second.value(QStringLiteral("ok")) != QJsonValue(true)) {
                // No second check: the picture is not written unchecked.
                self->inFlight_ = false;
                ++rec->dropped;
                self->tellTick();
                return;
            }
            if (self->isRecording_)
                self->log(second);
            QJsonArray rects = objects(reply, "rects"), pixels = objects(reply, "pixels");
            for (const QJsonValue &v : objects(second, "rects"))
                rects.append(v);
            for (const QJsonValue &v : objects(second, "pixels"))
                pixels.append(v);
            queue(reply, rects, pixels);
        }, WebView::World::Isolated);
    }, WebView::World::Isolated);
}

QString PaneRecorder::pageCheck(const QString &privacySource, const QStringList &selectors)
{
    QString list = QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(selectors)).toJson(QJsonDocument::Compact));
    if (list.isEmpty())
        list = QStringLiteral("[]");
    return QStringLiteral("if (!window.VeltoRecord) {\n") + privacySource + QStringLiteral("\n}\nVeltoRecord.frame(") +
           list + QStringLiteral(")");
}

void PaneRecorder::queueFrame(const QImage &image, const QJsonArray &rects, double vw, double vh, double at,
                              const QJsonArray &pixels)
{
    QPointer<PaneRecorder> self(this);
    auto rec = rec_;
    ++pendingWrites_;
    rec->writer->write(FrameWriter::Frame{image, rects, vw, vh, at, pixels}, [self, rec, at](const FrameWriter::Result &r) {
        if (r.written) {
            ++rec->written;
            if (self && self->rec_ == rec)
                rec->longestLag = std::max(rec->longestLag, self->now() - at);
            for (const auto &[kind, n] : r.byPage)
                rec->hiddenByPage[kind] += n;
            for (const auto &[kind, n] : r.byOCR)
                rec->hiddenByOCR[kind] += n;
        } else {
            ++rec->dropped;
        }
        if (!self || self->rec_ != rec)
            return;
        --self->pendingWrites_;
        self->tellTick();
    });
}

void PaneRecorder::log(const QJsonObject &reply)
{
    const double vw = num(reply, "vw"), vh = num(reply, "vh");
    const QString host = str(reply, "host");
    const QString title = str(reply, "title");
    const QString page = host + QLatin1Char('|') + str(reply, "path") + QLatin1Char('|') + title;
    if (page != lastPage_) {
        lastPage_ = page;
        const QString trimmed = trimSpaces(title);
        addStep(QStringLiteral("page"), trimmed.isEmpty() ? host : trimmed + QStringLiteral(" · ") + host);
    }
    const auto since = [this](const QJsonObject &o) {
        const double t = num(o, "t", startedEpochMs_);
        return std::max(0.0, (t - startedEpochMs_) / 1000.0);
    };
    for (const QJsonValue &v : objects(reply, "clicks")) {
        const QJsonObject c = v.toObject();
        const double at = since(c);
        rec_->clicks.append(Click{at, num(c, "x"), num(c, "y"), vw, vh});
        const QString text = trimSpaces(str(c, "text"));
        if (!text.isEmpty())
            addStep(QStringLiteral("click"), Characters::left(text, 80), at);
    }
    for (const QJsonValue &v : objects(reply, "focus")) {
        const QJsonObject f = v.toObject();
        const QString label = trimSpaces(str(f, "label"));
        if (label.isEmpty() || label == lastFocus_)
            continue;
        lastFocus_ = label;
        addStep(QStringLiteral("field"), Characters::left(label, 80), since(f));
    }
}
