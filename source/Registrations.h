// source/Registrations.h: the module's registration functions, one per exported class or family,
// called in a fixed order by exportAll in main.cpp.
#pragma once

void initColumnNames();
void exportConstants();
void exportSessionStatus();
void exportTransport();
void exportTimeframe();
void exportRequest();
void exportResponse();
void exportSession();
void exportSystemPropertiesListener();
void exportChartSessionStatus();
void exportTables();
void exportResponseListener();
void exportLoginRules();
void exportTradingSettingsProvider();
void exportPermissionChecker();
void registerDateTimeConverters();
void exportPlentaCommunicatorFactory();
void exportTimeframeFactory();
void exportPlentaCommunicatorRequest();
void exportPlentaCommunicatorResponse();
void exportPlentaCommunicator();
