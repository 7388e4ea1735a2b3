#pragma once
// Sample documents made at test time: small PDFs written by hand (so their
// text layer is exactly known), zip-based office files, and a Word 97 file.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace DocSamples {

// A PDF with one page per entry; each page shows its lines in Helvetica. An
// empty entry is a page without text.
QByteArray pdf(const QList<QStringList> &pages, double fontSize = 10);

// A PDF that opens only with a password.
QByteArray lockedPdf();

// Writes a zip file holding the members; false when libzip fails.
bool zip(const QString &path, const QMap<QString, QByteArray> &members);

// A Word 97 document (compound file) whose main text is the pieces in
// order; a piece is stored as 8-bit text when `ansi` says so, else UTF-16.
// `extra` follows the main text (as notes do) and must not be read.
struct Piece {
    QString text;
    bool ansi;
};
QByteArray word97(const QList<Piece> &pieces, const QString &extra = {}, bool encrypted = false);

} // namespace DocSamples
