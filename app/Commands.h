#pragma once
// Work windows opened by the main window's commands. Each slot is set by the
// code that owns the window (see installWindowCommands in
// app/CommandSetup.cpp); a command whose slot is empty is shown disabled.
//
// The main window passes the work its mode commands chose as the slot's work
// context, and does its own follow-up after the slot returns (ending a mode
// command's value table and network mode, reloading caches). A slot creates its window with the given
// parent, prepares it as described below, shows it through execModal() and
// frees it before returning.
#include "engine/WorkContext.h"

#include <QWidget>
#include <functional>

struct MainCommands {
    using Slot = std::function<void(QWidget *parent, const WorkContext &work)>;

    // TAdmForm in editing mode: caption + " - формирование"; items "Добавить",
    // "Вставить", "Удалить", "Корректировать" shown, "Выгрузить" and
    // "Подгрузить" hidden, Panel1 hidden.
    Slot Ladm1;
    Slot LAdm2;            // TMTFs
    Slot LAdm3;            // a new TFormL (replacing the kept one)
    Slot LAdm4;            // TContrls
    Slot LAdm4_1;          // TControlMatchForm (administrator mode only)
    Slot abcMouseLabel6;   // TUpdateGeneratorForm (administrator mode only); gets dbmain and the year
    Slot LLev3;            // TFMerge
    // TAdmForm for input: caption + " - ввод информации"; item "Справка" shown.
    Slot abcMouseLabel11;
    // TRepList for summary reports: caption + " сводных отчетов".
    Slot abcMouseLabel12;
    // TRepList for Form 47: caption + " Ф47".
    Slot abcMouseLabel13;
    Slot abcMouseLabel1;   // TUnf
    // TRepList by territories: N9, N10, N11, N13 shown; N1, N2, N3, N6, N7, N8 hidden.
    Slot Lrek1;
    Slot Lrek2;            // TMTList
    // TRepList by institutions: N9, N10, N13 shown; N1, N2, N3, N6, N7, N8 hidden.
    Slot Lrek3;
    // TMISetup: N1, N2, N3, N9, N10 and Edit1 shown.
    Slot Lrek4;
};

inline MainCommands &mainCommands() {
    static MainCommands commands;
    return commands;
}

// Plugs the work windows that exist into mainCommands(); called once by the
// main window before it lays out its commands.
void installWindowCommands();
