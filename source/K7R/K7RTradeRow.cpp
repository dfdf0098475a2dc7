// source/K7R/K7RTradeRow.cpp: the open position row classes, K7RTradeRow and K7RTradeTableRow.
#include "K7R/K7RRow.h"

void exportTradeRow()
{
    vexa2::python::exportRowPair<IK7RTradeRow, IK7RTradeTableRow>(
        "K7RTradeRow", "The class provides access to open position information.",
        "K7RTradeTableRow",
        "The class provides access to the open position information and calculated fields.");
}
