#pragma once
// Names and texts as users give them, for the gates that must let every one
// of them through: the program's captions and messages (RussianTexts.txt),
// and names made from their words the way users make names - digits and
// brackets right after letters, lower and upper case, "ё", one letter, 255
// characters.
#include "support/SourceScan.h"

#include <QRegularExpression>
#include <QSet>

inline QStringList russianTexts() {
    QStringList out;
    for (const QString &line : sourceText(QStringLiteral("tests/support/RussianTexts.txt")).split(u'\n'))
        if (!line.trimmed().isEmpty()) out << line;
    return out;
}

inline QStringList nameCorpus() {
    QStringList out = {QStringLiteral("Район1"), QStringLiteral("Архив2023"), QStringLiteral("Форма1"),
                       QStringLiteral("детей(0-17 лет)"), QStringLiteral("Ф.30"), QStringLiteral("(раздел2)"),
                       QStringLiteral("(п1)"), QStringLiteral("(таблица1)"),
                       QStringLiteral("форма1т(1000)стр2гр4"), QStringLiteral("мВ"), QStringLiteral("СЁ"),
                       QStringLiteral("кВт"), QStringLiteral("ФАПы"), QStringLiteral("ёлка"), QStringLiteral("ЁЖ"),
                       QStringLiteral("я"), QStringLiteral("Я"), QStringLiteral("ф"), QStringLiteral("Ё"),
                       QStringLiteral("1,ФАП"), QStringLiteral("ЦРБ №1 «Центральная»")};
    QStringList words;
    QSet<QString> seen;
    const QRegularExpression word(QStringLiteral("[А-Яа-яЁё]+"));
    const QStringList texts = russianTexts();
    for (const QString &t : texts)
        for (auto it = word.globalMatch(t); it.hasNext();) {
            const QString w = it.next().captured().toLower();
            if (!seen.contains(w)) {
                seen.insert(w);
                words << w;
            }
        }
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        const QString capital = w.left(1).toUpper() + w.mid(1);
        switch (i % 6) {
        case 0: out << w + QString::number(i % 10); break;
        case 1: out << capital + QStringLiteral("20") + QString::number(i % 100); break;
        case 2: out << w.toUpper() + QStringLiteral("(1)"); break;
        case 3: out << QStringLiteral("(") + w + QStringLiteral("2)"); break;
        case 4: out << QString(w).replace(u'е', u'ё') + QStringLiteral("(0-17 лет)"); break;
        case 5: out << capital + QStringLiteral(" ") + w.toUpper() + QString::number(i); break;
        }
    }
    // One-letter names and names of the longest length a name may have.
    for (const QChar c : QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАЁЮЯ")) out << QString(c);
    for (qsizetype i = 0; i + 1 < texts.size(); i += 97)
        out << (texts[i] + QStringLiteral(" ") + texts[i + 1] + QStringLiteral(" ")).repeated(255).left(255);
    out += texts;
    out.removeDuplicates();
    return out;
}

// Form names as the catalogue takes them, made from the corpus the way a user
// makes a name fit: each word after "Ф", without the signs, brackets,
// relations and quotes a reference cannot hold; the longest names the
// catalogue takes (117 Russian letters), words run together; runs of one
// letter after a word ("Форма" and 60 times "ж") and the longest names of one
// letter, for every letter in both cases. A gate still refuses some (the
// notation's words).
inline QStringList catalogueNames() {
    constexpr int kLongest = 117;
    QStringList out;
    QSet<QString> seen;
    static const QRegularExpression unfit(QStringLiteral("[+\\-*/()\\[\\]<>=;\"]"));
    auto add = [&](QString n) {
        n.remove(unfit);
        if (n.isEmpty()) return;
        if (!n.startsWith(u'Ф') && !n.startsWith(u'ф')) n.prepend(u'Ф');
        n.truncate(kLongest);
        if (!seen.contains(n)) {
            seen.insert(n);
            out << n;
        }
    };
    for (const QString &t : nameCorpus())
        for (const QString &word : t.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) add(word);
    const QStringList texts = russianTexts();
    for (qsizetype i = 0; i + 1 < texts.size(); i += 97)
        add((texts[i] + texts[i + 1]).toLower().remove(QRegularExpression(QStringLiteral("\\s"))).repeated(kLongest));
    for (const QChar c : QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ")) {
        add(QStringLiteral("Форма") + QString(60, c) + u'1');
        add(QStringLiteral("Ф") + QString(kLongest - 1, c));
        if (c.isLower()) add(QStringLiteral("ф") + QString(kLongest - 2, c) + u'9');
    }
    return out;
}
