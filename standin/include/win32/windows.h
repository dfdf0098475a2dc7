// The Windows-shaped platform layer: the few types and the one call the module uses to reach
// the string table carried inside its own image (libwinapi provides LoadStringA).
#pragma once

#include <cstdint>

#define WINAPI
#define WINUSERAPI extern "C" __attribute__((visibility("default")))

// An instance handle is the base address of a loaded image, as on Windows.
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef void* LPVOID;

#define FALSE 0
#define TRUE 1
#define DLL_PROCESS_ATTACH 1

// Copies at most capacity - 1 characters of string `id` of image `instance`, plus a NUL, and
// gives the count copied; 0 when the image carries no such string.
WINUSERAPI int LoadStringA(HINSTANCE instance, unsigned id, char* buffer, int capacity);

// The string table resource: an image that carries one exports it under this name, as an
// array ended by an entry whose id is 0. Only entries of the loader's language are found.
struct STRINGTABLE_ENTRY
{
    unsigned id;
    unsigned short language;
    const char* text;
};
#define STRINGTABLE_SYMBOL "stringTableResource"
#define STRINGTABLE_LANGUAGE 1033
WINUSERAPI const STRINGTABLE_ENTRY stringTableResource[];
