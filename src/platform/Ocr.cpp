#include "platform/Ocr.h"

#include <dlfcn.h>
#include <leptonica/allheaders.h>
#include <memory>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

namespace Ocr {

namespace {

// The recogniser parallelises inside one image with OpenMP; we run one engine
// per worker instead, so its inner threads only fight ours for the cores.
// OMP_THREAD_LIMIT is read once when the process loads the runtime, too early
// for us to set it, so the runtime is told directly: no nested team, no team
// at all (every parallel region runs on the calling thread).
void keepRecognitionOnThisThread()
{
    using SetLevels = void (*)(int);
    static SetLevels setLevels = reinterpret_cast<SetLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    using SetThreads = void (*)(int);
    static SetThreads setThreads = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    if (setLevels)
        setLevels(0);
    if (setThreads)
        setThreads(1);
}

QString fromUtf8(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

QRectF Line::rangeBox(int from, int length) const
{
    QRectF r;
    if (from < 0 || length <= 0 || from + length > units.size())
        return r;
    for (int i = from; i < from + length; ++i) {
        const QRectF &u = units[i];
        if (u.isEmpty())
            continue;
        r = r.isNull() ? u : r.united(u);
    }
    return r;
}

struct Engine::Impl {
    tesseract::TessBaseAPI api;
    bool ok = false;
};

Engine::Engine() : d(std::make_unique<Impl>())
{
    keepRecognitionOnThisThread();
    d->ok = d->api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    if (d->ok) {
        // Screens hold scattered labels, cells and fields rather than a page of prose.
        d->api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
        d->api.SetVariable("debug_file", "/dev/null");
    }
}

Engine::~Engine()
{
    d->api.End();
}

bool Engine::ok() const { return d->ok; }

std::optional<QVector<Line>> Engine::recognise(const QImage &image)
{
    if (!d->ok || image.isNull())
        return std::nullopt;
    keepRecognitionOnThisThread();
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull())
        return std::nullopt;
    QVector<Line> lines;
    // The recogniser needs some room around text to find it.
    if (grey.width() < 3 || grey.height() < 3)
        return lines;
    d->api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    d->api.SetSourceResolution(96);
    if (d->api.Recognize(nullptr) != 0) {
        d->api.Clear();
        return std::nullopt;
    }
    std::unique_ptr<tesseract::ResultIterator> it(d->api.GetIterator());
    if (it) {
        Line *line = nullptr;
        QRectF last;
        it->Begin();
        do {
            if (it->Empty(tesseract::RIL_SYMBOL))
                continue;
            int l = 0, t = 0, r = 0, b = 0;
            if (!line || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                lines.push_back(Line{});
                line = &lines.last();
                if (it->BoundingBox(tesseract::RIL_TEXTLINE, &l, &t, &r, &b))
                    line->box = QRectF(l, t, r - l, b - t);
                last = QRectF();
            } else if (it->IsAtBeginningOf(tesseract::RIL_WORD)) {
                // The space between two words spans the gap between them.
                QRectF gap;
                if (!last.isNull() && it->BoundingBox(tesseract::RIL_SYMBOL, &l, &t, &r, &b))
                    gap = QRectF(QPointF(last.right(), std::min<double>(last.top(), t)),
                                 QPointF(std::max<double>(last.right(), l), std::max<double>(last.bottom(), b)));
                line->text += QLatin1Char(' ');
                line->units.push_back(gap);
            }
            std::unique_ptr<char[]> s(it->GetUTF8Text(tesseract::RIL_SYMBOL));
            const QString sym = fromUtf8(s.get());
            QRectF box;
            if (it->BoundingBox(tesseract::RIL_SYMBOL, &l, &t, &r, &b))
                box = QRectF(l, t, r - l, b - t);
            for (int i = 0; i < sym.size(); ++i) {
                line->text += sym[i];
                line->units.push_back(box);
            }
            if (!box.isNull())
                last = box;
            if (line->box.isNull() && !box.isNull())
                line->box = box;
            else if (!box.isNull())
                line->box = line->box.united(box);
        } while (it->Next(tesseract::RIL_SYMBOL));
    }
    // Lines that came out empty (noise) are of no use to anyone.
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const Line &l) { return l.text.trimmed().isEmpty(); }),
                lines.end());
    d->api.Clear();
    return lines;
}

} // namespace Ocr
