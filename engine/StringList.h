#pragma once
// An ordered list of texts, each with an integer object attached (the form
// id of a cache line, the rule key of an error line, ...).
#include <QList>
#include <QString>
#include <QStringList>

class StringList {
public:
    struct Item {
        QString text;
        qint64 object = 0;
    };

    int count() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.isEmpty(); }
    void clear() { m_items.clear(); }
    int add(const QString &text, qint64 object = 0) {
        m_items.append(Item{text, object});
        return int(m_items.size()) - 1;
    }
    void insert(int index, const QString &text, qint64 object = 0) { m_items.insert(index, Item{text, object}); }
    void removeAt(int index) { m_items.removeAt(index); }
    const QString &text(int i) const { return m_items[i].text; }
    qint64 object(int i) const { return m_items[i].object; }
    void setText(int i, const QString &t) { m_items[i].text = t; }
    void setObject(int i, qint64 o) { m_items[i].object = o; }
    const Item &at(int i) const { return m_items[i]; }
    int indexOf(const QString &text) const {
        for (int i = 0; i < count(); ++i)
            if (m_items[i].text == text) return i;
        return -1;
    }
    int indexOfObject(qint64 object) const {
        for (int i = 0; i < count(); ++i)
            if (m_items[i].object == object) return i;
        return -1;
    }
    QStringList texts() const {
        QStringList out;
        out.reserve(m_items.size());
        for (const Item &it : m_items) out.append(it.text);
        return out;
    }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    QList<Item> m_items;
};

// First index whose object equals value, -1 when none.
inline int IndexOfObjectValue(qint64 value, const StringList &list) { return list.indexOfObject(value); }
