// source/K7R/K7RTable.cpp: the table classes: columns, rows, table listeners, event queues, the
// table iterator, K7RTable and K7RTableManager.
#include "Registrations.h"

void exportTables()
{
}
