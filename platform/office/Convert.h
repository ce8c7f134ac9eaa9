#pragma once
// Legacy binary documents (.doc, .dot, .xls) are read by converting them
// with an installed office suite in headless mode ("soffice --headless
// --convert-to ..."). Without one the caller gets a clear message that the
// file has to be saved as .docx/.xlsx.
#include <QString>

namespace office {

// Full path of the converter ("soffice"), empty when it is not installed.
QString converterPath();

// Converts path into outDir as a file of type targetExt ("docx", "xlsx",
// "pdf"); returns the produced file. Throws office::Error.
QString convertFile(const QString &path, const QString &targetExt, const QString &outDir,
                    int timeoutMs = 180000);

// A path holding the Office Open XML form of the file: the file itself when
// it already is a zip package (whatever its extension); otherwise a copy
// converted into a temporary folder that lives until the program ends (a
// file converted before and unchanged since is not converted again).
// targetExt is "docx" or "xlsx". Throws office::Error (file missing, legacy
// format without a converter, conversion failure).
// A template the configuration names in the old format ("form.doc") may
// have been saved anew beside it ("form.docx"): SavedAnew takes that one.
// A file the user chose is read as chosen (Never, the default).
enum class Neighbour { Never, SavedAnew };
QString openXmlVersion(const QString &path, const QString &targetExt, Neighbour neighbour = Neighbour::Never);

// Of a template named in the old format ("form.doc") and one saved beside
// it in the new ("form.docx"), the one changed last: an update may bring a
// newer ".doc" beside an old ".docx". Returns the path taken (path itself
// when there is no choice); note, when given, gets the sentence that says
// which one was taken when both were there, else stays empty.
QString newerTemplate(const QString &path, const QString &targetExt, QString *note = nullptr);

} // namespace office
