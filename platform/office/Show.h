#pragma once
// "Make the document visible": the produced document is saved to a file and
// handed to the desktop's application through the dialog seam
// (dialogs().openDocument), so tests never open anything.
#include <QString>
#include <QStringList>
#include <functional>

namespace office {

class WordDocument;
class ExcelWorkbook;

// Folder for produced documents when the caller names none:
// <configuration folder><year>/documents/ while a configuration and year are
// open, otherwise a "kelvana-documents" folder in the temporary folder.
// Created when missing; ends with '/'.
QString documentsFolder();

// The year folder of the open configuration ("" while none is open): the
// owner of the open configuration installs its source at start-up.
using YearFolderSource = std::function<QString()>;
void setYearFolderSource(const YearFolderSource &source);

// A free file name in folder: suggestedName with the characters file
// systems refuse replaced by '_', plus extension; " (2)", " (3)", ... are
// added while a file of that name exists.
QString freeFileName(const QString &folder, const QString &suggestedName, const QString &extension);

// Saves the document (as <folder>/<suggestedName>.docx, a free name) and
// opens it with the desktop's application. An empty folder means
// documentsFolder(). Returns the file written. Throws office::Error when
// saving fails; an application that cannot be started is reported by the
// dialog seam's provider.
QString show(WordDocument &doc, const QString &suggestedName, const QString &folder = QString());
QString show(ExcelWorkbook &book, const QString &suggestedName, const QString &folder = QString());

// The saving half of show(): saves the document (a free name, as show()
// chooses it; a workbook is counted among the shown workbooks); showFile()
// then opens it. For a caller that tells the user the output is done only
// once the file is written, or saves a large workbook while its progress
// window paints.
QString saveShown(WordDocument &doc, const QString &suggestedName, const QString &folder = QString());
QString saveShown(ExcelWorkbook &book, const QString &suggestedName, const QString &folder = QString());

// Opens a document already saved (Activate of a saved copy).
void showFile(const QString &path);

// Workbooks shown during this run that still exist, oldest first: what
// "the open workbooks" are for output that adds a sheet to one of them
// (open it, add the sheet, save it over the same path, showFile()).
QStringList shownWorkbooks();

} // namespace office
