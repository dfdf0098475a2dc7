// The library entry and the module handle it records. This platform makes no entry call of its
// own, so a load-time constructor makes the process-attach call with this image's handle.
#include "ModuleHandle.h"

#include <dlfcn.h>

namespace vexa2 { namespace python {

HINSTANCE g_moduleHandle = nullptr;

} }  // namespace vexa2::python

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH)
        vexa2::python::g_moduleHandle = instance;
    return TRUE;
}

namespace {

// The string table is part of every image that records a handle, as a resource is part of its
// image; this reference keeps the linker from leaving it out of a partial link of the core.
__attribute__((used)) const void* const g_carriedTable = stringTableResource;

// The handle is the image's base address; dladdr on a function of this image gives it.
__attribute__((constructor)) void attachImage()
{
    Dl_info image;
    if (dladdr(reinterpret_cast<void*>(&attachImage), &image) && image.dli_fbase)
        DllMain(static_cast<HINSTANCE>(image.dli_fbase), DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace
