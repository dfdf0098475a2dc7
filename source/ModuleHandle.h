// The instance handle of the image this code is linked into, from which the message builders
// load the string table, and the library entry that records it.
#pragma once

#include <win32/windows.h>

// Hidden: the module, its test builds and the test executable each keep their own handle, and
// one image's entry must never be bound to another image's copy.
#define DEDEZI_IMAGE_LOCAL __attribute__((visibility("hidden")))

namespace vexa2 { namespace python {

// Written once, on process attach; null until then.
extern DEDEZI_IMAGE_LOCAL HINSTANCE g_moduleHandle;

} }  // namespace vexa2::python

// On process attach records `instance` as the module handle; any other reason changes nothing.
extern "C" DEDEZI_IMAGE_LOCAL BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                                                  LPVOID reserved);
