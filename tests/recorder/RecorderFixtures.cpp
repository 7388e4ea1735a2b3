#include "RecorderFixtures.h"

#include "platform/Ocr.h"
#include "recorder/Redaction.h"

#include <QFont>
#include <QPainter>

namespace RecorderFixtures {

namespace {

struct Row {
    const char *name, *pan, *gstin, *aadhaar, *mobile, *email, *ifsc;
};

const Row kRows[] = {
    {"Asha Traders", "AAPFA1234K", "27AAPFA1234K1Z5", "2345 6789 0123", "98765 43210", "asha@traders.in", "HDFC0001234"},
    {"Bharat Steel", "BHRPS5678L", "29BHRPS5678L1ZQ", "3456 7890 1234", "91234 56780", "accounts@bsteel.com", "ICIC0004567"},
    {"Chetan & Co", "CHTPK9012M", "07CHTPK9012M2Z8", "4567 8901 2345", "87654 32109", "chetan.k@gmail.com", "SBIN0007890"},
    {"Deepa Foods", "DPFPD3456N", "33DPFPD3456N1ZR", "5678 9012 3456", "76543 21098", "deepa@foods.co.in", "UTIB0002345"},
};


} // namespace

QStringList privateValues()
{
    QStringList out;
    for (const Row &r : kRows)
        out << r.pan << r.gstin << r.aadhaar << r.mobile << r.email << r.ifsc;
    return out;
}

QImage portalView(QSize view, int scroll, const QString &clock)
{
    const int pageHeight = std::max(1500, view.height() + 1200);
    QImage page(view.width(), pageHeight, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(24);
    p.setFont(title);
    p.setPen(QColor(20, 40, 90));
    p.drawText(QPoint(40, 50), QStringLiteral("Client register"));
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPixelSize(16);
    p.setFont(body);
    p.setPen(QColor(30, 30, 30));
    p.drawText(QPoint(view.width() - 160, 50), clock);
    // One client per block of lines, like a detail table.
    int y = 120;
    while (y < pageHeight) {
        for (const Row &r : kRows) {
            p.setPen(QColor(90, 90, 90));
            p.drawText(QPoint(40, y), QString::fromUtf8(r.name));
            p.setPen(QColor(30, 30, 30));
            p.drawText(QPoint(40, y + 30), QStringLiteral("PAN  %1").arg(r.pan));
            p.drawText(QPoint(360, y + 30), QStringLiteral("GSTIN  %1").arg(r.gstin));
            p.drawText(QPoint(40, y + 60), QStringLiteral("Aadhaar  %1").arg(r.aadhaar));
            p.drawText(QPoint(360, y + 60), QStringLiteral("Mobile  %1").arg(r.mobile));
            p.drawText(QPoint(40, y + 90), QStringLiteral("E-mail  %1").arg(r.email));
            p.drawText(QPoint(360, y + 90), QStringLiteral("IFSC  %1").arg(r.ifsc));
            p.setPen(QColor(220, 220, 220));
            p.drawLine(30, y + 110, view.width() - 30, y + 110);
            y += 150;
        }
    }
    p.end();
    return page.copy(0, scroll, view.width(), view.height());
}

QStringList readText(const QImage &image)
{
    thread_local Ocr::Engine engine;
    QStringList out;
    if (const auto lines = engine.recognise(image))
        for (const auto &l : *lines)
            out << l.text;
    return out;
}

QStringList readableValues(const QImage &image)
{
    const QStringList lines = readText(image);
    QStringList out;
    for (const QString &value : privateValues()) {
        const QString compact = QString(value).remove(' ');
        for (const QString &line : lines) {
            const QString flat = QString(line).remove(' ');
            if (flat.contains(compact) || Redaction::fixedVariant(flat).contains(compact)) {
                out << value;
                break;
            }
        }
    }
    return out;
}

} // namespace RecorderFixtures
