// LoadStringA over the string tables that loaded images carry, and the test switch that makes
// it miss entries. An instance handle is an image's base address; each image is looked up on
// its own, since the module, its test builds and the test executable may all carry a table.
#include "StringTableControl.h"

#include <win32/windows.h>

#include <dlfcn.h>
#include <link.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

std::mutex g_switchMutex;
std::unordered_set<unsigned> g_missingIds;
std::atomic<bool> g_allMissing{false};
std::atomic<bool> g_someMissing{false};

bool switchedMissing(unsigned id)
{
    if (g_allMissing.load())
        return true;
    if (!g_someMissing.load())
        return false;
    std::lock_guard<std::mutex> lock(g_switchMutex);
    return g_missingIds.count(id) != 0;
}

// The base of an image as dladdr reports it: its load bias plus its first segment, page aligned.
ElfW(Addr) imageBase(const dl_phdr_info& info)
{
    ElfW(Addr) lowest = ~ElfW(Addr)(0);
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i)
        if (info.dlpi_phdr[i].p_type == PT_LOAD)
            lowest = std::min(lowest, info.dlpi_phdr[i].p_vaddr);
    if (lowest == ~ElfW(Addr)(0))
        return 0;
    const ElfW(Addr) page = static_cast<ElfW(Addr)>(sysconf(_SC_PAGESIZE));
    return info.dlpi_addr + (lowest & ~(page - 1));
}

struct ImageSearch
{
    ElfW(Addr) base;
    bool found = false;
    std::string name;
    unsigned long long adds = 0;
    unsigned long long subs = 0;
};

int findImage(dl_phdr_info* info, size_t size, void* data)
{
    auto* search = static_cast<ImageSearch*>(data);
    if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof(info->dlpi_subs)) {
        search->adds = info->dlpi_adds;
        search->subs = info->dlpi_subs;
    }
    if (imageBase(*info) != search->base)
        return 0;
    search->found = true;
    search->name = info->dlpi_name ? info->dlpi_name : "";
    return 1;
}

// The table that the image at `base` itself defines, or null. The symbol lookup may also reach
// the image's dependencies (or the global scope for the executable), so the table found must
// lie inside that same image.
const STRINGTABLE_ENTRY* findTable(ElfW(Addr) base, const std::string& name)
{
    void* image = dlopen(name.empty() ? nullptr : name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!image)
        return nullptr;
    void* symbol = dlsym(image, STRINGTABLE_SYMBOL);
    dlclose(image);
    Dl_info where;
    if (!symbol || !dladdr(symbol, &where) ||
        reinterpret_cast<ElfW(Addr)>(where.dli_fbase) != base)
        return nullptr;
    return static_cast<const STRINGTABLE_ENTRY*>(symbol);
}

// Tables of the loaded images by handle, null for an image without one; dropped whenever an
// image came or went, since a handle then may name another image.
std::mutex g_cacheMutex;
std::unordered_map<ElfW(Addr), const STRINGTABLE_ENTRY*> g_tables;
unsigned long long g_cacheAdds = 0;
unsigned long long g_cacheSubs = 0;

// The loader lock is never taken while g_cacheMutex is held: a library constructor running
// under the loader lock may build a message.
const STRINGTABLE_ENTRY* tableOf(HINSTANCE instance)
{
    ImageSearch search;
    search.base = reinterpret_cast<ElfW(Addr)>(instance);
    dl_iterate_phdr(findImage, &search);
    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        if (search.adds != g_cacheAdds || search.subs != g_cacheSubs) {
            g_tables.clear();
            g_cacheAdds = search.adds;
            g_cacheSubs = search.subs;
        }
        const auto cached = g_tables.find(search.base);
        if (cached != g_tables.end())
            return cached->second;
    }
    if (!search.found)
        return nullptr;
    const STRINGTABLE_ENTRY* table = findTable(search.base, search.name);
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    if (search.adds == g_cacheAdds && search.subs == g_cacheSubs)
        g_tables.emplace(search.base, table);
    return table;
}

}  // namespace

WINUSERAPI int LoadStringA(HINSTANCE instance, unsigned id, char* buffer, int capacity)
{
    if (!buffer || capacity <= 0)
        return 0;
    buffer[0] = '\0';
    if (!instance || switchedMissing(id))
        return 0;
    const STRINGTABLE_ENTRY* entry = tableOf(instance);
    for (; entry && entry->id != 0; ++entry)
        if (entry->id == id && entry->language == STRINGTABLE_LANGUAGE && entry->text)
            break;
    if (!entry || entry->id == 0)
        return 0;
    const size_t count = std::min(std::strlen(entry->text), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, entry->text, count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

namespace winapi_sim {

void setMissingStrings(const std::vector<unsigned>& ids)
{
    std::lock_guard<std::mutex> lock(g_switchMutex);
    g_missingIds.clear();
    g_missingIds.insert(ids.begin(), ids.end());
    g_someMissing.store(!g_missingIds.empty());
}

void setAllStringsMissing(bool all)
{
    g_allMissing.store(all);
}

void resetStringTable()
{
    std::lock_guard<std::mutex> lock(g_switchMutex);
    g_missingIds.clear();
    g_someMissing.store(false);
    g_allMissing.store(false);
}

}  // namespace winapi_sim
