// The settings file (platform/IniFile, as the program keeps Kelvana.cfg).
// Oracles: a write changes only the key written and a deletion only the key
// deleted, also as the file reads afterwards; a file that cannot be read is
// never written over.
#include "fuzz/Fuzz.h"

#include "platform/IniFile.h"

#include <QFile>

#include <algorithm>
#include <tuple>

namespace {

struct Entry {
    QString section, key, value;
    bool operator==(const Entry &) const = default;
    // An order of their own (where a key stands in the file is not compared).
    bool operator<(const Entry &o) const { return std::tie(section, key, value) < std::tie(o.section, o.key, o.value); }
    bool is(const QString &s, const QString &k) const {
        return section.compare(s, Qt::CaseInsensitive) == 0 && key.compare(k, Qt::CaseInsensitive) == 0;
    }
};

// What the file holds, sorted.
QList<Entry> entries(const IniFile &ini) {
    QList<Entry> out;
    for (const QString &section : ini.sections())
        for (const QString &key : ini.sectionKeys(section)) out << Entry{section, key, ini.readString(section, key)};
    std::sort(out.begin(), out.end());
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
    const IniFile back(path);
    fuzz::check(back.readError().isEmpty(), "the settings file the program wrote reads again", back.readError());
    const QList<Entry> now = entries(back);
    fuzz::check(now == expected, what, shown(expected) + QStringLiteral("\n  now:\n") + shown(now));
}

} // namespace

void fuzz::input(const QByteArray &in) {
    const QString path = fuzz::writeInput(in, QStringLiteral("Kelvana.cfg"));
    IniFile ini(path);
    const QList<Entry> before = entries(ini);
    const QStringList sectionsBefore = ini.sections();
    const QString section = QStringLiteral("Конфигурации"), key = QStringLiteral("Новая база №1"),
                  value = QStringLiteral("/данные/2024 \"копия\"");
    const bool written = ini.writeString(section, key, value);
    if (!ini.readError().isEmpty()) {
        fuzz::check(!written && fileBytes(path) == in, "a file that cannot be read is never written over");
        return;
    }
    if (!written) return;
    QList<Entry> expected = before;
    bool had = false;
    for (Entry &e : expected)
        if (e.is(section, key)) {   // the line written anew: its key as the writer spells it
            e.key = key;
            e.value = value;
            had = true;
        }
    if (!had) {
        QString spelled = section;   // a section there keeps its spelling
        for (const QString &name : sectionsBefore)
            if (name.compare(section, Qt::CaseInsensitive) == 0) spelled = name;
        expected.append(Entry{spelled, key, value});
    }
    std::sort(expected.begin(), expected.end());
    fuzz::check(entries(ini) == expected, "a write changes only the key written",
                shown(expected) + QStringLiteral("\n  now:\n") + shown(entries(ini)));
    same(expected, path, "a file written reads as it was written");

    // A deletion of the first key takes only that key.
    if (before.isEmpty()) return;
    const Entry first = before.first();
    if (std::count_if(expected.begin(), expected.end(), [&](const Entry &e) { return e.is(first.section, first.key); }) != 1)
        return;
    if (!ini.deleteKey(first.section, first.key)) return;
    expected.removeIf([&](const Entry &e) { return e.is(first.section, first.key); });
    same(expected, path, "a deletion takes only the key deleted");
    return;
}
