#pragma once
// A zip package of named parts (the container of .docx and .xlsx files) and
// the small XML helpers both document kinds share.
#include <QByteArray>
#include <QDomDocument>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace office {

// The most a package's parts may unpack to, all together. A document or a
// workbook is a few megabytes; the sizes an archive declares are not
// trusted, so a file that declares or unpacks to more is refused before it
// fills the memory.
inline constexpr qint64 kMaxUnpackedBytes = 256 * 1024 * 1024;

class Package {
public:
    // Reads every entry of the zip file, at most maxUnpacked bytes in all;
    // throws office::Error (a file over the limit is named with the limit).
    static Package read(const QString &path, qint64 maxUnpacked = kMaxUnpackedBytes);
    // Writes all parts into a new zip file (replacing it); throws office::Error.
    // [Content_Types].xml is written first.
    void write(const QString &path) const;

    bool has(const QString &name) const;
    QByteArray part(const QString &name) const;     // empty when missing
    void setPart(const QString &name, const QByteArray &data);
    QStringList names() const;

private:
    std::vector<std::pair<QString, QByteArray>> parts_;
};

// Parses a part; whitespace-only text of text elements (<t>, <w:t>,
// <w:instrText>) is kept. Throws office::Error naming the part.
QDomDocument parseXml(const QByteArray &data, const QString &partName, bool namespaces);
// Serialises a DOM without added whitespace, with the XML declaration.
QByteArray toXml(const QDomDocument &doc);

// Resolves a relationship target against the folder of the part that owns
// the relationships ("word/document.xml" + "media/a.png" -> "word/media/a.png").
QString resolveTarget(const QString &ownerPart, const QString &target);
// "word/document.xml" -> "word/_rels/document.xml.rels".
QString relsPartFor(const QString &part);

// Drops characters XML 1.0 cannot carry (control bytes other than TAB, LF, CR).
QString xmlSafe(const QString &text);

// Which kind of file is at path: zip container (Office Open XML), compound
// binary file (legacy .doc/.xls), or something else.
enum class FileKind { Missing, OpenXml, LegacyBinary, Other };
FileKind sniffFile(const QString &path);

} // namespace office
