// source/K7R/K7RClosedTradeRow.cpp: the closed position row classes, K7RClosedTradeRow and
// K7RClosedTradeTableRow.
#include "K7R/K7RRow.h"

void exportClosedTradeRow()
{
    vexa2::python::exportRowPair<IK7RClosedTradeRow, IK7RClosedTradeTableRow>(
        "K7RClosedTradeRow",
        "The class provides access to information about a position closed during the "
        "current trading day.",
        "K7RClosedTradeTableRow", "The class provides access to the closed position information.");
}
