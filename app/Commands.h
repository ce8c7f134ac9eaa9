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
    // "Подгрузить" hidden, the panel of chosen forms ("Выбранные формы") hidden.
    Slot territory;          // "Формирование административной структуры территории"
    Slot institutionTypes;   // TMTFs
    Slot reportForms;        // a new TFormL (replacing the kept one)
    Slot controls;           // TContrls
    Slot controlMatch;       // TControlMatchForm (administrator mode only)
    Slot updateGenerator;    // TUpdateGeneratorForm (administrator mode only); gets dbmain and the year
    Slot sumLevels;          // TFMerge
    // TAdmForm for input: caption + " - ввод информации"; item "Справка" shown.
    Slot input;
    // TRepList for summary reports: caption + " сводных отчетов".
    Slot summaryReports;
    // TRepList for Form 47: caption + " Ф47".
    Slot form47;
    Slot ministryExport;     // TUnf
    // TRepList by territories: "Показатели", "Разрезы", "Входящие отчеты",
    // "Население" shown; "Подгрузить", "Входящие учреждения", "Выгрузить",
    // "Отчет", "Просмотр" hidden.
    Slot indicatorsByTerritory;
    Slot indicatorsByTypes;  // TMTList
    // TRepList by institutions: "Показатели", "Разрезы", "Население" shown;
    // the rest as by territories.
    Slot indicatorsByInstitution;
    // TMISetup in editing mode: "Добавить", "Удалить", "Состав",
    // "Выгрузить", "Загрузить" and the set's name shown.
    Slot indicatorMethod;
};

inline MainCommands &mainCommands() {
    static MainCommands commands;
    return commands;
}

// Plugs the work windows that exist into mainCommands(); called once by the
// main window before it lays out its commands.
void installWindowCommands();
