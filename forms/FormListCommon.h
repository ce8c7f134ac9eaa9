#pragma once
// Window helpers shared by the territory, institution-type and forms-tree
// windows: the application title in captions, handlers that turn every
// failure into a message, the tree look of these windows and the report of
// institutions a group load could not find.
#include "core/ProgressSink.h"
#include "platform/Dialogs.h"

#include <QString>
#include <QStringList>
#include <exception>

class QSize;
class QTreeWidget;
class QWidget;

namespace winutil {

// The application title that captions start with: year, configuration and
// sub-report level ("2024 - Пример - Годовой:"), or the program's name while
// no year is open.
QString appTitle();

// The Russian text of a failure (db::Error, an engine error or any other).
QString errorText(const std::exception &e);

// Runs a handler; a failure becomes an error message instead of leaving the
// event loop, a run stopped by "Отмена" a message that nothing changed.
template <typename F>
void guarded(QWidget *w, F &&work) {
    try {
        work();
    } catch (const Cancelled &) {
        showMessage(Cancelled::message(), w);
    } catch (const std::exception &e) {
        showError(errorText(e), w);
    }
}

// Gives a window the wanted size, but no more than the screen's free area.
void fitToScreen(QWidget *w, const QSize &wanted);

// A one-column tree without header, one node selected at a time, not editable.
void setupTree(QTreeWidget *tree);

// A group load could not find the institutions of these files: one message
// per name, each name (with a TAB) added to ControlErrors, then the refused
// files in one error message.
void reportGroupLoad(QWidget *w, const QStringList &missingUnits, const QStringList &failures);
// Name of the institution or report whose values are shown: with
// DataTableName exactly "Data" the node selected in an open territory window
// (else administration.unit of CurrentInstitution), otherwise the summary
// report's name (reports.report of CurrentInstitution).
QString currentUnitName();
// The main window's caption (the program's name while there is none).
QString mainWindowCaption();

// After the closing message of a group load: the list window shows
// ControlErrors under "Пропущенные ЛПУ" when it is not empty.
void showSkippedUnits();

} // namespace winutil
