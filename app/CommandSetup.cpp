#include "app/Commands.h"

#include "controls/ContrForm.h"
#include "controls/ControlMatch.h"

#include "forms/territory/AdmForm.h"
#include "forms/table/Breakdown.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/structure/FormCatalog.h"
#include "forms/territory/MedTypes.h"
#include "forms/table/TableExcel.h"
#include "reports/DbfExport.h"
#include "reports/IndicatorWindows.h"
#include "reports/ReportList.h"
#include "reports/Summation.h"
#include "updates/UpdateGenerator.h"

// Each work window's owner adds one assignment here when the window exists,
// e.g.  mainCommands().institutionTypes = [](QWidget *parent, const WorkContext &work) { ... };
void installWindowCommands() {
    static bool done = false;
    if (done) return;
    done = true;
    MainCommands &c = mainCommands();
    c.territory = [](QWidget *parent, const WorkContext &work) { openAdmFormForStructure(parent, work); };
    c.input = [](QWidget *parent, const WorkContext &work) { openAdmFormForInput(parent, work); };
    c.institutionTypes = [](QWidget *parent, const WorkContext &) { openMedTypesEditor(parent); };
    c.indicatorsByTypes = [](QWidget *parent, const WorkContext &work) { openMedTypesList(parent, work); };
    c.reportForms = [](QWidget *parent, const WorkContext &) { openFormCatalog(parent); };
    c.indicatorMethod = [](QWidget *parent, const WorkContext &work) { openIndicatorSetup(parent, work); };
    c.updateGenerator = [](QWidget *parent, const WorkContext &) { openUpdateGenerator(parent); };
    c.controls = [](QWidget *parent, const WorkContext &work) { openControlsEditor(parent, work); };
    c.controlMatch = [](QWidget *parent, const WorkContext &) { openControlMatch(parent); };
    c.summaryReports = [](QWidget *parent, const WorkContext &work) { openReportListSvod(parent, work); };
    c.form47 = [](QWidget *parent, const WorkContext &work) { openReportListNet(parent, work); };
    c.indicatorsByTerritory = [](QWidget *parent, const WorkContext &work) { openReportListTerrain(parent, work); };
    c.indicatorsByInstitution = [](QWidget *parent, const WorkContext &work) { openReportListSingle(parent, work); };
    c.sumLevels = [](QWidget *parent, const WorkContext &) { openSubReportSummation(parent); };
    c.ministryExport = [](QWidget *parent, const WorkContext &) { openDbfExport(parent); };

    // Commands of the table window that belong to other windows.
    installControlsTableExtension();
    installCalcRuleTableExtension();
    installBreakdownTableExtension();
    installTableExcelTableExtension();

    // Commands of other windows that open the indicator windows.
    setIndicatorTreeOpener([](QWidget *parent, const QString &caption, const WorkContext &work) {
        openIndicatorTreeForViewing(parent, caption, work);
    });
}
