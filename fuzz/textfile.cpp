// The encoding gate and the one reader of text files (platform/Codepage).
// Oracles: a file the reader takes, written back by the writer, is taken
// again with the same lines (also the settings file's reading, which takes
// UTF-8 too); accepted code page 1251 bytes decode and encode back to
// themselves; the characters named as unencodable are exactly those the
// code page cannot hold, for the input read as UTF-8 and as UTF-16.
#include "fuzz/Fuzz.h"

#include "platform/Codepage.h"

namespace {

QString shown(const QStringList &lines) { return lines.join(QStringLiteral("⏎")).left(400); }

void readBack(const QString &path, cp1251::Encoding encoding, const char *name) {
    QStringList lines;
    QString why;
    if (!cp1251::readLines(path, lines, &why, encoding)) {
        fuzz::check(!why.isEmpty() && lines.isEmpty(), "a refused file is refused with a reason and no lines");
        return;
    }
    // UTF-8 characters the code page lacks cannot be written back; what the
    // settings file does with them is the settings target's to judge.
    if (!cp1251::unencodable(lines.join(u'\n')).isEmpty()) return;
    const QString again = fuzz::scratch() + QStringLiteral("written.txt");
    fuzz::check(cp1251::writeLines(again, lines, &why), "the writer writes what the reader read", why);
    QStringList back;
    fuzz::check(cp1251::readLines(again, back, &why, encoding),
                "the reader takes the file the writer made of what it read", QString::fromUtf8(name) + u' ' + why);
    fuzz::check(back == lines, "lines written and read back are the lines read",
                shown(lines) + QStringLiteral("\n  back: ") + shown(back));
}

void unencodableAgree(const QString &text) {
    const QList<char32_t> named = cp1251::unencodable(text);
    const char32_t first = cp1251::firstUnencodable(text);
    fuzz::check(first == (named.isEmpty() ? 0 : named.first()), "the first unencodable character is the first named");
    // Without the named characters the text goes through the code page unchanged.
    QString kept;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t u = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            u = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        }
        if (!named.contains(u)) kept += text.mid(i, width);
        i += width - 1;
    }
    fuzz::check(cp1251::decode(cp1251::encode(kept)) == kept, "a text of the code page's characters goes through it");
}

} // namespace

void fuzz::input(const QByteArray &in) {
    const QString foreign = cp1251::foreignEncoding(in);
    fuzz::check(foreign.isEmpty() == cp1251::encodingProblem(in).isEmpty(), "the gate's verdict and message agree");
    if (foreign.isEmpty())
        fuzz::check(cp1251::encode(cp1251::decode(in)) == in, "accepted code page 1251 bytes decode and encode back");
    const QString path = fuzz::writeInput(in, QStringLiteral("input.txt"));
    readBack(path, cp1251::Encoding::Cp1251, "code page 1251");
    readBack(path, cp1251::Encoding::Cp1251OrUtf8, "settings file");
    unencodableAgree(QString::fromUtf8(in));
    unencodableAgree(QString(reinterpret_cast<const QChar *>(in.constData()), in.size() / 2));
    return;
}
