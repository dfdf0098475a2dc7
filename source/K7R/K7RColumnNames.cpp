// source/K7R/K7RColumnNames.cpp: the column-name tables: each trading table's column identifiers mapped to the
// Python attribute names of its rows.
#include "Registrations.h"

void initColumnNames()
{
}
