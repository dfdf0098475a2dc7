// source/K7R/K7RMessageRow.cpp: the message row classes, K7RMessageRow and K7RMessageTableRow.
#include "K7R/K7RRow.h"

void exportMessageRow()
{
    vexa2::python::exportRowPair<IK7RMessageRow, IK7RMessageTableRow>(
        "K7RMessageRow", "The class provides access to a message which is intended for the user.",
        "K7RMessageTableRow", "The class provides access to the message information.");
}
