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
// e.g.  mainCommands().LAdm2 = [](QWidget *parent, const WorkContext &work) { ... };
void installWindowCommands() {
    static bool done = false;
    if (done) return;
    done = true;
    MainCommands &c = mainCommands();
    c.Ladm1 = [](QWidget *parent, const WorkContext &work) { openAdmFormForStructure(parent, work); };
    c.abcMouseLabel11 = [](QWidget *parent, const WorkContext &work) { openAdmFormForInput(parent, work); };
    c.LAdm2 = [](QWidget *parent, const WorkContext &) { openMedTypesEditor(parent); };
    c.Lrek2 = [](QWidget *parent, const WorkContext &work) { openMedTypesList(parent, work); };
    c.LAdm3 = [](QWidget *parent, const WorkContext &) { openFormCatalog(parent); };
    c.Lrek4 = [](QWidget *parent, const WorkContext &work) { openIndicatorSetup(parent, work); };
    c.abcMouseLabel6 = [](QWidget *parent, const WorkContext &) { openUpdateGenerator(parent); };
    c.LAdm4 = [](QWidget *parent, const WorkContext &work) { openControlsEditor(parent, work); };
    c.LAdm4_1 = [](QWidget *parent, const WorkContext &) { openControlMatch(parent); };
    c.abcMouseLabel12 = [](QWidget *parent, const WorkContext &work) { openReportListSvod(parent, work); };
    c.abcMouseLabel13 = [](QWidget *parent, const WorkContext &work) { openReportListNet(parent, work); };
    c.Lrek1 = [](QWidget *parent, const WorkContext &work) { openReportListTerrain(parent, work); };
    c.Lrek3 = [](QWidget *parent, const WorkContext &work) { openReportListSingle(parent, work); };
    c.LLev3 = [](QWidget *parent, const WorkContext &) { openSubReportSummation(parent); };
    c.abcMouseLabel1 = [](QWidget *parent, const WorkContext &) { openDbfExport(parent); };

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
