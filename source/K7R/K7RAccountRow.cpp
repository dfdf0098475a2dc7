// source/K7R/K7RAccountRow.cpp: the account row classes, K7RAccountRow and K7RAccountTableRow.
#include "K7R/K7RRow.h"

void exportAccountRow()
{
    vexa2::python::exportRowPair<IK7RAccountRow, IK7RAccountTableRow>(
        "K7RAccountRow", "The class provides access to account information.",
        "K7RAccountTableRow",
        "The class provides access to the account information and calculated fields.");
}
