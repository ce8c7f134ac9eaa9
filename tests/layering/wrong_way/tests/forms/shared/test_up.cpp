#include "forms/shared/AdmFormLogic.h"
#include "forms/territory/AdmForm.h"
#include "tests/forms/tree/test_formlist_excel.cpp"
