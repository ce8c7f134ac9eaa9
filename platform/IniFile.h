#pragma once
// Sectioned key=value settings file in code page 1251 with CR LF line ends.
// A file an editor re-saved as UTF-8 is read as such and written back in
// code page 1251. Comments and blank lines are kept where they are.
// Sections and keys keep the order of the file; names are compared without
// regard to letter case (Cyrillic included). Every write is saved at once.
#include <QString>
#include <QStringList>
#include <QList>

class IniFile {
public:
    explicit IniFile(const QString &path);

    const QString &path() const { return m_path; }
    bool exists() const;

    QString readString(const QString &section, const QString &key, const QString &def = QString()) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList sectionKeys(const QString &section) const;  // in file order
    QStringList sections() const;
    bool sectionExists(const QString &section) const;

    // Writers return false (and set lastError) when the file cannot be saved.
    bool writeString(const QString &section, const QString &key, const QString &value);
    bool writeInteger(const QString &section, const QString &key, int value);
    bool deleteKey(const QString &section, const QString &key);
    bool eraseSection(const QString &section);

    // Why a text cannot be kept as a key (or a value) of the file so that it
    // reads back the same: a Russian sentence naming the character at fault,
    // or empty when the text is fine. Keys may not hold "=", start with ";"
    // or "[", or have blanks at either end; neither may hold control
    // characters or characters code page 1251 has no byte for.
    static QString keyProblem(const QString &key);
    static QString valueProblem(const QString &value);

    // A failed write keeps the previous file, and the memory is read back
    // from it, so what is read afterwards is what the file holds.
    QString lastError() const { return m_error; }
    void reload();
    // Why the file on disk could not be read (it is in another encoding than
    // code page 1251 or UTF-8); empty when it was read or is missing. Such a
    // file is never written over: every write fails and says so.
    QString readError() const { return m_readError; }
    // The file was read, but its bytes look like KOI8-R or cp866 text: the
    // names read from it may be garbled. Empty otherwise.
    QString readWarning() const { return m_readWarning; }

private:
    struct Entry { QString key; QString value; };
    struct Section { QString name; QList<Entry> entries; };
    const Section *find(const QString &section) const;
    Section *find(const QString &section);
    bool save();
    void parse();

    QString m_path;
    QStringList m_lines;   // the file as read, comments included
    QList<Section> m_sections;
    QString m_error;
    QString m_readError;
    QString m_readWarning;
};
