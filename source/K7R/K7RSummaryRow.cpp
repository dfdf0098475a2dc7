// source/K7R/K7RSummaryRow.cpp: the summary row classes, K7RSummaryRow and K7RSummaryTableRow.
#include "K7R/K7RRow.h"

void exportSummaryRow()
{
    vexa2::python::exportRowPair<IK7RSummaryRow, IK7RSummaryTableRow>(
        "K7RSummaryRow",
        "Summary information about a particular traded instrument in a response object.",
        "K7RSummaryTableRow",
        "The class provides access to the summary information of the instrument traded.");
}
