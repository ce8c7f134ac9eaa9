// The settings file (platform/IniFile, as the program keeps Kelvana.cfg).
// Oracles: a write changes only the key written and a deletion only the key
// deleted, also as the file reads afterwards; a file that cannot be read is
// never written over.
#include "fuzz/Fuzz.h"

#include "platform/IniFile.h"

#include <QFile>

namespace {

struct Entry {
    QString section, key, value;
    bool operator==(const Entry &) const = default;
    bool is(const QString &s, const QString &k) const {
        return section.compare(s, Qt::CaseInsensitive) == 0 && key.compare(k, Qt::CaseInsensitive) == 0;
    }
};

QList<Entry> entries(const IniFile &ini) {
    QList<Entry> out;
    for (const QString &section : ini.sections())
        for (const QString &key : ini.sectionKeys(section)) out << Entry{section, key, ini.readString(section, key)};
    return out;
}

QString shown(const QList<Entry> &list) {
    QStringList out;
    for (const Entry &e : list) out << e.section + QStringLiteral(" | ") + e.key + QStringLiteral(" = ") + e.value;
    return out.join(u'\n').left(1500);
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void same(const QList<Entry> &expected, const QString &path, const char *what) {
    const QList<Entry> now = entries(IniFile(path));
    fuzz::check(now == expected, what, shown(expected) + QStringLiteral("\n  now:\n") + shown(now));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    const QByteArray in = fuzz::bytes(data, size);
    const QString path = fuzz::writeInput(in, QStringLiteral("Kelvana.cfg"));
    IniFile ini(path);
    const QList<Entry> before = entries(ini);
    const QString section = QStringLiteral("Конфигурации"), key = QStringLiteral("Новая база №1"),
                  value = QStringLiteral("/данные/2024 \"копия\"");
    const bool written = ini.writeString(section, key, value);
    if (!ini.readError().isEmpty()) {
        fuzz::check(!written && fileBytes(path) == in, "a file that cannot be read is never written over");
        return 0;
    }
    if (!written) return 0;
    QList<Entry> expected = before;
    bool had = false;
    for (Entry &e : expected)
        if (e.is(section, key)) {
            e.value = value;
            had = true;
        }
    if (!had) {
        // A new key goes to the end of its section, a new section to the end of the file.
        qsizetype at = -1;
        for (qsizetype i = 0; i < expected.size(); ++i)
            if (expected[i].section.compare(section, Qt::CaseInsensitive) == 0) at = i;
        const QString spelled = at >= 0 ? expected[at].section : section;
        expected.insert(at >= 0 ? at + 1 : expected.size(), Entry{spelled, key, value});
    }
    fuzz::check(entries(ini) == expected, "a write changes only the key written",
                shown(expected) + QStringLiteral("\n  now:\n") + shown(entries(ini)));
    same(expected, path, "a file written reads as it was written");

    // A deletion of the first key takes only that key.
    if (before.isEmpty()) return 0;
    const Entry first = before.first();
    if (std::count_if(expected.begin(), expected.end(), [&](const Entry &e) { return e.is(first.section, first.key); }) != 1)
        return 0;
    if (!ini.deleteKey(first.section, first.key)) return 0;
    expected.removeIf([&](const Entry &e) { return e.is(first.section, first.key); });
    same(expected, path, "a deletion takes only the key deleted");
    return 0;
}
