// RTF text: groups, control words, \uN with its \ucN fallback, \'hh bytes in
// the document's code page, and the destinations that hold no body text
// (font and colour tables, style sheet, pictures, headers, field codes ...)
// skipped.
#include "toolserver/DocText.h"

#include <QSet>
#include <QStringDecoder>
#include <vector>

namespace DocText {

namespace {

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

const QSet<QByteArray> &skippedDestinations()
{
    static const QSet<QByteArray> words = {
        "fonttbl",  "colortbl", "stylesheet", "info",     "pict",        "header",    "headerl",
        "headerr",  "headerf",  "footer",     "footerl",  "footerr",     "footerf",   "footnote",
        "fldinst",  "xe",       "tc",         "listtable", "listoverridetable", "revtbl", "rsidtbl",
        "filetbl",  "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl",
        "generator", "objdata", "pgdsctbl",   "annotation", "atnid",     "atnauthor", "template",
    };
    return words;
}

struct Group {
    bool skip = false;
    int uc = 1; // characters standing in for each \uN, for readers without Unicode
};

class RtfText {
public:
    RtfText(const QByteArray &data, Bound &bound) : in_(data), bound_(bound) {}

    std::optional<QString> run()
    {
        if (!in_.startsWith("{\\rtf"))
            return std::nullopt;
        std::vector<Group> stack;
        Group group;
        qsizetype i = 0;
        const qsizetype n = in_.size();
        while (i < n) {
            if (bound_.exceeded())
                return std::nullopt;
            const char c = in_.at(i);
            if (c == '{') {
                flush();
                fallback_ = 0;
                stack.push_back(group);
                if (bound_.deeper(qsizetype(stack.size())))
                    return std::nullopt;
                ++i;
            } else if (c == '}') {
                flush();
                fallback_ = 0;
                if (stack.empty())
                    break;
                group = stack.back();
                stack.pop_back();
                ++i;
            } else if (c == '\\') {
                i = control(i + 1, group);
            } else if (c == '\r' || c == '\n') {
                ++i;
            } else {
                if (!consumeFallback() && !group.skip)
                    bytes_.append(c);
                ++i;
            }
        }
        flush();
        return out_;
    }

private:
    // Handles the control after a backslash at i; answers where reading goes on.
    qsizetype control(qsizetype i, Group &group)
    {
        const qsizetype n = in_.size();
        if (i >= n)
            return i;
        const char c = in_.at(i);
        if (!isLetter(c)) {
            // Control symbols.
            if (c == '\'') {
                const bool ok = i + 2 < n && isHex(in_.at(i + 1)) && isHex(in_.at(i + 2));
                if (ok && !consumeFallback() && !group.skip)
                    bytes_.append(char(QByteArray(in_.mid(i + 1, 2)).toInt(nullptr, 16)));
                return ok ? i + 3 : i + 1;
            }
            if (c == '*') {
                // A destination that readers may ignore: this one does.
                group.skip = true;
                return i + 1;
            }
            if (consumeFallback() || group.skip)
                return i + 1;
            if (c == '\\' || c == '{' || c == '}')
                bytes_.append(c);
            else if (c == '~')
                text(QChar(0x00A0));
            else if (c == '_')
                text(QChar(0x2011));
            else if (c == '\n' || c == '\r')
                text(QLatin1Char('\n'));
            return i + 1;
        }

        qsizetype j = i;
        while (j < n && isLetter(in_.at(j)))
            ++j;
        const QByteArray word = in_.mid(i, j - i);
        std::optional<int> param;
        if (j < n && (in_.at(j) == '-' || isDigit(in_.at(j)))) {
            qsizetype k = j + 1;
            while (k < n && isDigit(in_.at(k)))
                ++k;
            bool ok = false;
            const int v = in_.mid(j, k - j).toInt(&ok);
            if (ok)
                param = v;
            j = k;
        }
        if (j < n && in_.at(j) == ' ')
            ++j; // the delimiting space belongs to the control word

        if (word == "bin") {
            // Raw bytes follow; they are never text.
            return j + std::max(0, param.value_or(0));
        }
        if (word == "uc") {
            group.uc = std::max(0, param.value_or(1));
            return j;
        }
        if (word == "ansicpg" && param) {
            codePage_ = *param;
            return j;
        }
        if (skippedDestinations().contains(word)) {
            group.skip = true;
            return j;
        }
        if (word == "u" && param) {
            if (!group.skip) {
                flush();
                out_ += QChar(char16_t(*param < 0 ? *param + 65536 : *param));
            }
            fallback_ = group.uc;
            return j;
        }
        if (consumeFallback() || group.skip)
            return j;
        if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row")
            text(QLatin1Char('\n'));
        else if (word == "tab" || word == "cell" || word == "nestcell")
            text(QLatin1Char('\t'));
        else if (word == "emdash")
            text(QChar(0x2014));
        else if (word == "endash")
            text(QChar(0x2013));
        else if (word == "emspace" || word == "enspace" || word == "qmspace")
            text(QLatin1Char(' '));
        else if (word == "bullet")
            text(QChar(0x2022));
        else if (word == "lquote")
            text(QChar(0x2018));
        else if (word == "rquote")
            text(QChar(0x2019));
        else if (word == "ldblquote")
            text(QChar(0x201C));
        else if (word == "rdblquote")
            text(QChar(0x201D));
        return j;
    }

    static bool isHex(char c)
    {
        return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    // After a \uN, the next characters (a byte, a \'hh or a control) are the
    // stand-in for older readers and are dropped.
    bool consumeFallback()
    {
        if (fallback_ <= 0)
            return false;
        --fallback_;
        return true;
    }

    void text(QChar c)
    {
        flush();
        out_ += c;
    }

    // Bytes in the code page become text together, so that a character of
    // two bytes stays whole.
    void flush()
    {
        if (bytes_.isEmpty())
            return;
        QStringDecoder decoder(QByteArray("windows-") + QByteArray::number(codePage_));
        if (!decoder.isValid())
            decoder = QStringDecoder("windows-1252");
        out_ += decoder.decode(bytes_);
        bytes_.clear();
    }

    const QByteArray &in_;
    Bound &bound_;
    QByteArray bytes_;
    QString out_;
    int codePage_ = 1252;
    int fallback_ = 0;
};

} // namespace

std::optional<QString> readRtf(const QByteArray &data, Bound &bound)
{
    return RtfText(data, bound).run();
}

} // namespace DocText
