// source/Messages.h: the message table's builders, the raise sequence and the callback error report.
#pragma once

#include <Python.h>
#include <string>
#include <string_view>

// One builder per table entry; each loads its text from the module's string table (falling back
// to its built-in copy) and formats its arguments into it.
std::string msgIndexOutOfBounds();                          // 1001
std::string msgAttributeNotFound(const char* name);         // 1002
std::string msgUnknownError();                              // 1003
std::string msgReportUrlNotSupported();                     // 1004
std::string msgReportUrlBufferTooSmall();                   // 1005
std::string msgReportUrlSessionNotLogged();                 // 1006
std::string msgReportUrlSessionNotValid();                  // 1007
std::string msgReportUrlNotEnoughMemory();                  // 1008
std::string msgReportUrlTokenNotReceived();                 // 1009
std::string msgReportUrlNoAuthId();                         // 1010
std::string msgReportUrlNoSubId();                          // 1011
std::string msgReportUrlNoAccountId();                      // 1012
std::string msgTokenNotSupported();                         // 1013
std::string msgTokenBufferTooSmall();                       // 1014
std::string msgTokenSessionNotLogged();                     // 1015
std::string msgTokenSessionNotValid();                      // 1016
std::string msgTokenNotReceived();                          // 1017
std::string msgIteratorReachedEnd();                        // 1018
std::string msgOnlyStringOrIntegerValue();                  // 1020
std::string msgArraysLengthsNotEqual();                     // 1021
std::string msgColumnNamesMustBeStrings();                  // 1022
std::string msgConditionsMustBeRelationalOperators();       // 1023
std::string msgOnlyTwoValues();                             // 1024
std::string msgEventQueueEmpty();                           // 1025
std::string msgTimeIsOut();                                 // 1026
std::string msgFailedToGetZorvat();                         // 1027
std::string msgUpdateInstrumentsTaskCanceled();             // 1028
std::string msgTimeframeFactoryNull();                      // 1029
std::string msgCannotCreateRequest();                       // 1030
std::string msgCannotSendRequest();                         // 1031
std::string msgRequestCanceled();                           // 1032
std::string msgResponseNull();                              // 1033
std::string msgExpectedDateTime();                          // 1034
std::string msgCannotConvertTime();                         // 1035
std::string msgSystemPropertyNotFound(const char* name);    // 1036
std::string msgZorvatLocked(const char* text, int subcode);                      // 1037
std::string msgZorvatQuotesCatalogBusy(const char* text, int subcode);           // 1038
std::string msgZorvatQuotesCacheBusy(const char* text, int subcode);             // 1039
std::string msgZorvatQuotesCacheCorrupted(const char* text, int subcode);        // 1040
std::string msgZorvatQuotesServerConnectionError(const char* text, int subcode); // 1041
std::string msgZorvatLoadingError(const char* text, int subcode);                // 1042
std::string msgZorvatQuotesLoaderError(const char* text, int subcode);           // 1043
std::string msgZorvatQuotesNotFound(const char* text, int subcode);              // 1044
std::string msgZorvatBadArgument(const char* text, int subcode);                 // 1045
std::string msgZorvatOtherError(const char* text, int subcode);                  // 1046
std::string msgZorvatLimitReached(const char* text, int subcode);                // 1047
std::string msgPlentaNotReady(const char* text);            // 1048
std::string msgPlentaBadArguments(const char* text);        // 1049
std::string msgPlentaOtherError(const char* text);          // 1050
std::string msgCallbackException(const char* traceback, const char* function, const char* file,
                                 int line);                 // 1051
std::string msgPureVirtualCalled(const char* name);         // 1052

namespace vexa2 { namespace python {

// A name as a message shows it (1002, 1036): whole, a NUL in it, which would end the message
// there, written as the four characters \x00.
std::string shownName(std::string_view name);

// The raise sequence: takes the interpreter lock, sets `type` with `text`, throws the binding
// library's error_already_set.
[[noreturn]] void raiseMessage(PyObject* type, const std::string& text);

// Writes message 1051 for the pending Python error to sys.stderr (the process's standard error
// when there is none or it fails) and restores the error. Called with the interpreter lock held;
// never raises.
void reportPythonError(const char* function, const char* file, int line);

} }  // namespace vexa2::python
