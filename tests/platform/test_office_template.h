#pragma once
// A .dotx (or .docx) package around a document part, as another writer makes
// one: content types, the package relationship, nothing else.
#include "platform/office/Package.h"

#include <QString>

inline QString writeDocxTemplate(const QString &path, const QByteArray &documentXml, bool isTemplate = true) {
    office::Package p;
    p.setPart("[Content_Types].xml",
              QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.)") +
                  (isTemplate ? "template" : "document") + R"(.main+xml"/></Types>)");
    p.setPart("_rels/.rels",
              R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)");
    p.setPart("word/document.xml", documentXml);
    p.write(path);
    return path;
}
