// HTML text in one pass over the markup, bounded in depth and time: a saved
// portal page or a ledger export of a few megabytes reads in well under a
// second, and a file built to nest without end is answered as too complex.
// Only what the text needs is understood: tags and their nesting (with the
// end tags HTML lets a writer leave out), comments, entities, white space,
// blocks, line breaks, table cells and preformatted text.
#include "skills/SkillText.h"
#include "toolserver/DocText.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <vector>

namespace DocText {

namespace {

bool isSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' || u == '_' ||
           u == ':' || u == '.';
}

// Elements that have no content and no end tag.
bool isVoid(const QString &name)
{
    static const QSet<QString> names = {"area",  "base", "br",   "col",   "embed",  "hr",    "img",
                                      "input", "link", "meta", "param", "source", "track", "wbr"};
    return names.contains(name);
}

// Elements whose content is not text for the reader, skipped to their end tag.
bool isSkipped(const QString &name)
{
    static const QSet<QString> names = {"script", "style", "title", "template", "noscript", "textarea", "select"};
    return names.contains(name);
}

// Elements that stand on lines of their own.
bool isBlock(const QString &name)
{
    static const QSet<QString> names = {
        "address", "article", "aside",  "blockquote", "body",     "caption", "center", "dd",     "details",
        "dialog",  "div",     "dl",     "dt",         "fieldset", "figcaption", "figure", "footer", "form",
        "h1",      "h2",      "h3",     "h4",         "h5",       "h6",      "header", "hr",     "html",
        "legend",  "li",      "main",   "menu",       "nav",      "ol",      "p",      "pre",    "section",
        "summary", "table",   "tbody",  "tfoot",      "thead",    "tr",      "ul"};
    return names.contains(name);
}

// Blocks whose start ends a paragraph left open.
bool closesParagraph(const QString &name)
{
    return isBlock(name) && name != QLatin1String("li") && name != QLatin1String("dd") &&
           name != QLatin1String("dt") && name != QLatin1String("caption") && name != QLatin1String("tbody") &&
           name != QLatin1String("thead") && name != QLatin1String("tfoot") && name != QLatin1String("tr") &&
           name != QLatin1String("body") && name != QLatin1String("html");
}

const QHash<QString, char32_t> &namedEntities()
{
    static const QHash<QString, char32_t> names = {
        {"amp", '&'},        {"lt", '<'},          {"gt", '>'},          {"quot", '"'},       {"apos", '\''},
        {"nbsp", 0xA0},      {"ensp", 0x2002},     {"emsp", 0x2003},     {"thinsp", 0x2009},  {"shy", 0xAD},
        {"zwnj", 0x200C},    {"zwj", 0x200D},      {"ndash", 0x2013},    {"mdash", 0x2014},   {"lsquo", 0x2018},
        {"rsquo", 0x2019},   {"sbquo", 0x201A},    {"ldquo", 0x201C},    {"rdquo", 0x201D},   {"bdquo", 0x201E},
        {"laquo", 0xAB},     {"raquo", 0xBB},      {"hellip", 0x2026},   {"bull", 0x2022},    {"middot", 0xB7},
        {"copy", 0xA9},      {"reg", 0xAE},        {"trade", 0x2122},    {"deg", 0xB0},       {"plusmn", 0xB1},
        {"times", 0xD7},     {"divide", 0xF7},     {"minus", 0x2212},    {"frac12", 0xBD},    {"frac14", 0xBC},
        {"frac34", 0xBE},    {"sup2", 0xB2},       {"sup3", 0xB3},       {"para", 0xB6},      {"sect", 0xA7},
        {"cent", 0xA2},      {"pound", 0xA3},      {"yen", 0xA5},        {"euro", 0x20AC},    {"curren", 0xA4},
        {"iexcl", 0xA1},     {"iquest", 0xBF},     {"dagger", 0x2020},   {"Dagger", 0x2021},  {"permil", 0x2030},
        {"larr", 0x2190},    {"rarr", 0x2192},     {"uarr", 0x2191},     {"darr", 0x2193},    {"check", 0x2713},
        {"le", 0x2264},      {"ge", 0x2265},       {"ne", 0x2260},       {"asymp", 0x2248},   {"infin", 0x221E},
        {"ordf", 0xAA},      {"ordm", 0xBA},       {"micro", 0xB5},      {"acute", 0xB4},     {"cedil", 0xB8},
        {"eacute", 0xE9},    {"egrave", 0xE8},     {"aacute", 0xE1},     {"agrave", 0xE0},    {"uuml", 0xFC},
        {"ouml", 0xF6},      {"auml", 0xE4},       {"szlig", 0xDF},      {"ccedil", 0xE7},    {"ntilde", 0xF1},
    };
    return names;
}

class HtmlText {
public:
    HtmlText(QStringView in, Bound &bound, qsizetype stopAfter) : in_(in), bound_(bound), stopAfter_(stopAfter) {}

    std::optional<QString> run()
    {
        const qsizetype n = in_.size();
        qsizetype i = 0;
        while (i < n) {
            if (bound_.exceeded())
                return std::nullopt;
            if (full())
                break;
            const QChar c = in_.at(i);
            if (c == QLatin1Char('<')) {
                i = markup(i);
                if (i < 0)
                    return std::nullopt;
            } else if (c == QLatin1Char('&')) {
                i = entity(i);
            } else {
                character(c);
                ++i;
            }
        }
        // No line breaks or spaces at either end.
        qsizetype start = 0, end = out_.size();
        while (start < end && (out_.at(start) == QLatin1Char('\n') || out_.at(start) == QLatin1Char(' ')))
            ++start;
        while (end > start && (out_.at(end - 1) == QLatin1Char('\n') || out_.at(end - 1) == QLatin1Char(' ') ||
                               out_.at(end - 1) == QLatin1Char('\t')))
            --end;
        return out_.mid(start, end - start);
    }

private:
    // Once the text is past the length the answer can use, the rest is not read.
    bool full()
    {
        if (out_.size() <= stopAfter_ || out_.size() < nextCount_)
            return false;
        nextCount_ = out_.size() + 64 * 1024;
        return SkillText::characterCount(out_) > stopAfter_;
    }

    bool inPre() const { return pre_ > 0; }

    void character(QChar c)
    {
        if (inPre()) {
            if (c != QLatin1Char('\r'))
                put(c);
            return;
        }
        if (isSpace(c)) {
            space_ = true;
            return;
        }
        put(c);
    }

    void put(QChar c)
    {
        if (space_ && !out_.isEmpty() && !atLineStart() && !out_.endsWith(QLatin1Char('\t')))
            out_ += QLatin1Char(' ');
        space_ = false;
        out_ += c;
    }

    bool atLineStart() const { return out_.isEmpty() || out_.endsWith(QLatin1Char('\n')); }

    // A block starts or ends: the text goes on on a line of its own.
    void lineBreak()
    {
        space_ = false;
        while (out_.endsWith(QLatin1Char(' ')))
            out_.chop(1);
        if (!atLineStart())
            out_ += QLatin1Char('\n');
    }

    // & at i: a character reference, or a lone ampersand.
    qsizetype entity(qsizetype i)
    {
        const qsizetype n = in_.size();
        qsizetype j = i + 1;
        if (j < n && in_.at(j) == QLatin1Char('#')) {
            ++j;
            const bool hex = j < n && (in_.at(j) == QLatin1Char('x') || in_.at(j) == QLatin1Char('X'));
            if (hex)
                ++j;
            const qsizetype digits = j;
            char32_t value = 0;
            while (j < n && j - digits < 8) {
                const char16_t u = in_.at(j).unicode();
                int d = -1;
                if (u >= '0' && u <= '9')
                    d = u - '0';
                else if (hex && u >= 'a' && u <= 'f')
                    d = u - 'a' + 10;
                else if (hex && u >= 'A' && u <= 'F')
                    d = u - 'A' + 10;
                if (d < 0)
                    break;
                value = value * (hex ? 16 : 10) + char32_t(d);
                ++j;
            }
            if (j == digits) {
                character(QLatin1Char('&'));
                return i + 1;
            }
            if (j < n && in_.at(j) == QLatin1Char(';'))
                ++j;
            if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
                value = 0xFFFD;
            codePoint(value);
            return j;
        }
        while (j < n && j - i <= 10 && in_.at(j).isLetterOrNumber() && in_.at(j).unicode() < 0x80)
            ++j;
        const auto found = namedEntities().constFind(in_.mid(i + 1, j - i - 1).toString());
        if (j > i + 1 && found != namedEntities().constEnd()) {
            if (j < n && in_.at(j) == QLatin1Char(';'))
                ++j;
            codePoint(*found);
            return j;
        }
        character(QLatin1Char('&'));
        return i + 1;
    }

    void codePoint(char32_t value)
    {
        // A non-breaking space is a space that white space folding keeps.
        if (value == 0xA0) {
            if (space_)
                put(QLatin1Char(' '));
            else
                out_ += QLatin1Char(' ');
            space_ = false;
            return;
        }
        if (value == 0xAD)
            return; // a soft hyphen shows only where a line breaks
        if (value == '\n' || value == '\t' || value == '\r' || value == ' ') {
            character(QChar(char16_t(value)));
            return;
        }
        const QString text = QString::fromUcs4(&value, 1);
        for (QChar c : text)
            put(c);
    }

    // < at i: a tag, a comment, a declaration, or a lone less-than sign.
    // Answers where reading goes on, or -1 once past the bound.
    qsizetype markup(qsizetype i)
    {
        const qsizetype n = in_.size();
        if (in_.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = in_.indexOf(QLatin1String("-->"), i + 4);
            return end < 0 ? n : end + 3;
        }
        if (i + 1 < n && (in_.at(i + 1) == QLatin1Char('!') || in_.at(i + 1) == QLatin1Char('?'))) {
            if (in_.mid(i, 9) == QLatin1String("<![CDATA[")) {
                const qsizetype end = in_.indexOf(QLatin1String("]]>"), i + 9);
                const qsizetype stop = end < 0 ? n : end;
                for (qsizetype k = i + 9; k < stop; ++k)
                    character(in_.at(k));
                return end < 0 ? n : end + 3;
            }
            const qsizetype end = in_.indexOf(QLatin1Char('>'), i + 2);
            return end < 0 ? n : end + 1;
        }
        const bool closing = i + 1 < n && in_.at(i + 1) == QLatin1Char('/');
        qsizetype j = i + (closing ? 2 : 1);
        const qsizetype nameStart = j;
        if (j >= n || !(in_.at(j).isLetter() && in_.at(j).unicode() < 0x80)) {
            character(QLatin1Char('<'));
            return i + 1;
        }
        while (j < n && isNameChar(in_.at(j)))
            ++j;
        const QString name = in_.mid(nameStart, j - nameStart).toString().toLower();
        // The attributes: quoted values may hold a '>'.
        bool selfClosing = false;
        while (j < n && in_.at(j) != QLatin1Char('>')) {
            const QChar c = in_.at(j);
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                const qsizetype end = in_.indexOf(c, j + 1);
                j = end < 0 ? n : end + 1;
                continue;
            }
            selfClosing = c == QLatin1Char('/');
            ++j;
        }
        const qsizetype after = j < n ? j + 1 : n;
        if (closing) {
            endTag(name);
            return after;
        }
        if (isSkipped(name) && !selfClosing) {
            // Raw text up to the element's own end tag.
            const QString endTag = QStringLiteral("</") + name;
            qsizetype k = after;
            for (;;) {
                k = in_.indexOf(endTag, k, Qt::CaseInsensitive);
                if (k < 0)
                    return n;
                const qsizetype past = k + endTag.size();
                if (past >= n || !isNameChar(in_.at(past)))
                    break;
                k = past;
            }
            const qsizetype end = in_.indexOf(QLatin1Char('>'), k);
            return end < 0 ? n : end + 1;
        }
        if (!startTag(name, selfClosing))
            return -1;
        return after;
    }

    // Pops open elements down to and including index at.
    void popTo(qsizetype at)
    {
        while (qsizetype(open_.size()) > at) {
            closed(open_.back());
            --openCount_[open_.back()];
            open_.pop_back();
        }
    }

    // The innermost open element among names, above the nearest of
    // boundaries; -1 when there is none.
    qsizetype findOpen(const QStringList &names, const QStringList &boundaries) const
    {
        // Most often none is open at all: no walk down a deep stack then.
        if (std::none_of(names.begin(), names.end(), [this](const QString &name) { return openCount_.value(name) > 0; }))
            return -1;
        for (qsizetype k = qsizetype(open_.size()) - 1; k >= 0; --k) {
            if (names.contains(open_[k]))
                return k;
            if (boundaries.contains(open_[k]))
                return -1;
        }
        return -1;
    }

    // End tags a writer may leave out, ended by the start of name.
    void impliedEnds(const QString &name)
    {
        static const QStringList cells = {"td", "th"}, rowScope = {"tr", "table", "html"};
        static const QStringList rows = {"tr"}, tableScope = {"table", "html"};
        static const QStringList sections = {"tbody", "thead", "tfoot"};
        static const QStringList items = {"li"}, listScope = {"ul", "ol", "menu", "table", "html"};
        static const QStringList terms = {"dt", "dd"}, termScope = {"dl", "table", "html"};
        static const QStringList paragraphs = {"p"}, paragraphScope = {"table", "td", "th", "li", "button", "html"};
        qsizetype at = -1;
        if (name == QLatin1String("td") || name == QLatin1String("th"))
            at = findOpen(cells, rowScope);
        else if (name == QLatin1String("tr"))
            at = findOpen(rows, tableScope);
        else if (name == QLatin1String("tbody") || name == QLatin1String("thead") || name == QLatin1String("tfoot"))
            at = findOpen(sections, tableScope);
        else if (name == QLatin1String("li"))
            at = findOpen(items, listScope);
        else if (name == QLatin1String("dt") || name == QLatin1String("dd"))
            at = findOpen(terms, termScope);
        if (at >= 0)
            popTo(at);
        if (closesParagraph(name)) {
            const qsizetype p = findOpen(paragraphs, paragraphScope);
            if (p >= 0)
                popTo(p);
        }
    }

    bool startTag(const QString &name, bool selfClosing)
    {
        impliedEnds(name);
        if (name == QLatin1String("br")) {
            space_ = false;
            while (out_.endsWith(QLatin1Char(' ')))
                out_.chop(1);
            out_ += QLatin1Char('\n');
            return true;
        }
        if (name == QLatin1String("td") || name == QLatin1String("th")) {
            // Cells after the first in their row start after a tab.
            if (!rows_.empty() && rows_.back()++ > 0) {
                space_ = false;
                while (out_.endsWith(QLatin1Char(' ')))
                    out_.chop(1);
                out_ += QLatin1Char('\t');
            }
        } else if (name == QLatin1String("img")) {
            return true;
        } else if (isBlock(name)) {
            lineBreak();
        }
        if (isVoid(name) || selfClosing)
            return true;
        open_.push_back(name);
        ++openCount_[name];
        if (bound_.deeper(qsizetype(open_.size())))
            return false;
        if (name == QLatin1String("tr"))
            rows_.push_back(0);
        else if (name == QLatin1String("pre"))
            ++pre_;
        return true;
    }

    void endTag(const QString &name)
    {
        if (name == QLatin1String("br")) {
            startTag(name, true);
            return;
        }
        static const QStringList paragraphs = {"p"}, nothing;
        if (name == QLatin1String("p") && findOpen(paragraphs, nothing) < 0) {
            lineBreak(); // </p> without its start stands for an empty paragraph
            return;
        }
        if (openCount_.value(name) <= 0)
            return; // an end tag without its start
        for (qsizetype k = qsizetype(open_.size()) - 1; k >= 0; --k) {
            if (open_[k] == name) {
                popTo(k);
                return;
            }
        }
    }

    // An element ends, with its end tag or without it.
    void closed(const QString &name)
    {
        if (name == QLatin1String("tr")) {
            if (!rows_.empty())
                rows_.pop_back();
            lineBreak();
        } else if (name == QLatin1String("pre")) {
            --pre_;
            lineBreak();
        } else if (isBlock(name)) {
            lineBreak();
        }
    }

    QStringView in_;
    Bound &bound_;
    qsizetype stopAfter_;
    qsizetype nextCount_ = 0;
    QString out_;
    bool space_ = false;
    int pre_ = 0;
    std::vector<QString> open_;
    QHash<QString, int> openCount_; // per name: how many are open
    std::vector<int> rows_; // per open row: the cells begun so far
};

} // namespace

std::optional<QString> readHtml(QStringView html, Bound &bound, qsizetype stopAfter)
{
    return HtmlText(html, bound, stopAfter).run();
}

} // namespace DocText
