// source/K7R/K7ROrderRow.cpp: the order row classes, K7ROrderRow and K7ROrderTableRow.
#include "K7R/K7RRow.h"

void exportOrderRow()
{
    vexa2::python::exportRowPair<IK7ROrderRow, IK7ROrderTableRow>(
        "K7ROrderRow", "The class provides access to order information.",
        "K7ROrderTableRow",
        "The class provides access to the order information and calculated fields.");
}
