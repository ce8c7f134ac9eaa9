#include "engine/ImportPolicy.h"

#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QDir>
#include <QFile>

namespace importpolicy {

void UnknownTargets::add(const QString &form, const QString &table, int lines) {
    const QString name = text::shownField(table.isEmpty() ? form : form + QLatin1Char(' ') + table);
    if (!m_count.contains(name)) m_order.append(name);
    m_count[name] += lines;
    m_lines += lines;
}

void UnknownTargets::merge(const UnknownTargets &other) {
    for (const QString &name : other.m_order) {
        if (!m_count.contains(name)) m_order.append(name);
        m_count[name] += other.m_count.value(name);
    }
    m_lines += other.m_lines;
}

QString UnknownTargets::note() const { return note(QStringLiteral("Строки неизвестных форм и таблиц пропущены")); }

QString UnknownTargets::note(const QString &heading) const {
    if (m_lines == 0) return QString();
    constexpr int kNamed = 10;
    QStringList named = m_order.mid(0, kNamed);
    if (m_order.size() > kNamed) named.append(QString(QChar(0x2026)));
    return QStringLiteral("%1: %2 (%3)")
        .arg(heading)
        .arg(m_lines)
        .arg(named.join(QStringLiteral(", ")));
}

ImportCheck::ImportCheck(const QString &path, QString nothing, QString kept)
    : m_path(path), m_nothing(std::move(nothing)), m_kept(std::move(kept)) {}

void ImportCheck::accepted(qint64 target) {
    ++m_accepted;
    // Lines of one target follow each other: the list is rarely searched.
    if (!m_carried.isEmpty() && m_carried.constLast() == target) return;
    if (!m_carried.contains(target)) m_carried.append(target);
}

void ImportCheck::refused(const QString &why) {
    if (m_refused.size() < 3) m_refused.append(text::shownField(why));
}

QString encodingHint(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    const QByteArray head = f.read(1 << 20);
    const bool utf16 = head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF");
    if (!utf16 && !cp1251::looksLikeUtf8(head)) return QString();
    return QStringLiteral("Возможно, файл сохранен не в кодировке Windows-1251 (например, в UTF-8).");
}

QString withNotes(const QString &done, const QStringList &notes) {
    QString out = done;
    for (const QString &n : notes)
        if (!n.isEmpty()) out += QLatin1Char('\n') + n;
    return out;
}

QString ImportCheck::refusal(const QStringList &extraNotes) const {
    const QString shown = QDir::toNativeSeparators(m_path);
    QString first = m_lines == 0 ? QStringLiteral("Файл %1 пуст.").arg(shown) : m_nothing;
    if (!m_kept.isEmpty()) first += QLatin1Char(' ') + m_kept;
    QStringList notes = extraNotes;
    notes.append(m_unknown.note());
    if (!m_refused.isEmpty()) notes.append(QStringLiteral("Строки не приняты: ") + m_refused.join(QStringLiteral("; ")));
    notes.append(encodingHint(m_path));
    return withNotes(first, notes);
}

void ImportCheck::requireAccepted(const QStringList &extraNotes) const {
    if (m_accepted == 0) throw db::Error(refusal(extraNotes));
}

} // namespace importpolicy
