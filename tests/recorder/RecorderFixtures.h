#pragma once
#include <QImage>
#include <QString>
#include <QStringList>

// Synthetic portal pages for the recorder's tests, drawn in a real font.
namespace RecorderFixtures {

// The private values on the fixture page, as they are drawn.
QStringList privateValues();

// A page of a tax portal: a title, a clock text, and a table of clients with
// PAN, GSTIN, Aadhaar, mobile, e-mail and IFSC values, drawn `scroll` pixels
// down the page into a view of the given size.
QImage portalView(QSize view, int scroll, const QString &clock = QStringLiteral("10:15:00"));

// Every text the recogniser reads in the image, one line per entry.
QStringList readText(const QImage &image);

// The private values (of privateValues()) that can be read in the image, in
// any of the forms the redaction matches.
QStringList readableValues(const QImage &image);

} // namespace RecorderFixtures
