#include "hookcheck.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

namespace Vorlane::HookCheck {

namespace {

struct Search
{
    const char *symbol;
    const void *ours;
    bool found = false;
    bool elsewhere = false;
    bool lazy = false;
};

// glibc has relocated the addresses of the dynamic section already; other loaders leave them
// relative to the object.
template<typename T> T address(const dl_phdr_info *info, ElfW(Addr) value)
{
    return reinterpret_cast<T>(value < info->dlpi_addr ? value + info->dlpi_addr : value);
}

void scan(const dl_phdr_info *info, const char *table, size_t size, size_t entrySize,
          const ElfW(Sym) * symbols, const char *names, uintptr_t begin, uintptr_t end,
          Search &search)
{
    if (!table || entrySize < sizeof(ElfW(Rel)))
        return;
    for (size_t offset = 0; offset + entrySize <= size; offset += entrySize) {
        // Rel and Rela begin alike: the place to patch, then the symbol and type.
        const auto *relocation = reinterpret_cast<const ElfW(Rel) *>(table + offset);
        const size_t index = sizeof(void *) == 8 ? size_t(uint64_t(relocation->r_info) >> 32)
                                                 : size_t(uint32_t(relocation->r_info) >> 8);
        if (index == 0 || std::strcmp(names + symbols[index].st_name, search.symbol) != 0)
            continue;
        search.found = true;
        const auto bound
            = *reinterpret_cast<const uintptr_t *>(info->dlpi_addr + relocation->r_offset);
        if (bound == reinterpret_cast<uintptr_t>(search.ours))
            continue;
        // A call bound lazily still points into the object's own stubs until its first use.
        if (bound >= begin && bound < end)
            search.lazy = true;
        else
            search.elsewhere = true;
    }
}

int visit(dl_phdr_info *info, size_t, void *data)
{
    auto &search = *static_cast<Search *>(data);
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libQt6WaylandCompositor"))
        return 0;
    const ElfW(Dyn) *dynamic = nullptr;
    uintptr_t begin = UINTPTR_MAX;
    uintptr_t end = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &header = info->dlpi_phdr[i];
        if (header.p_type == PT_DYNAMIC) {
            dynamic = reinterpret_cast<const ElfW(Dyn) *>(info->dlpi_addr + header.p_vaddr);
        } else if (header.p_type == PT_LOAD) {
            begin = std::min<uintptr_t>(begin, info->dlpi_addr + header.p_vaddr);
            end = std::max<uintptr_t>(end, info->dlpi_addr + header.p_vaddr + header.p_memsz);
        }
    }
    if (!dynamic)
        return 0;
    const ElfW(Sym) *symbols = nullptr;
    const char *names = nullptr;
    const char *rel = nullptr, *rela = nullptr, *plt = nullptr;
    size_t relSize = 0, relaSize = 0, pltSize = 0;
    size_t relEntry = sizeof(ElfW(Rel)), relaEntry = sizeof(ElfW(Rela));
    bool pltRela = sizeof(void *) == 8;
    for (const ElfW(Dyn) *entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
        switch (entry->d_tag) {
        case DT_SYMTAB:
            symbols = address<const ElfW(Sym) *>(info, entry->d_un.d_ptr);
            break;
        case DT_STRTAB:
            names = address<const char *>(info, entry->d_un.d_ptr);
            break;
        case DT_REL:
            rel = address<const char *>(info, entry->d_un.d_ptr);
            break;
        case DT_RELSZ:
            relSize = entry->d_un.d_val;
            break;
        case DT_RELENT:
            relEntry = entry->d_un.d_val;
            break;
        case DT_RELA:
            rela = address<const char *>(info, entry->d_un.d_ptr);
            break;
        case DT_RELASZ:
            relaSize = entry->d_un.d_val;
            break;
        case DT_RELAENT:
            relaEntry = entry->d_un.d_val;
            break;
        case DT_JMPREL:
            plt = address<const char *>(info, entry->d_un.d_ptr);
            break;
        case DT_PLTRELSZ:
            pltSize = entry->d_un.d_val;
            break;
        case DT_PLTREL:
            pltRela = entry->d_un.d_val == DT_RELA;
            break;
        default:
            break;
        }
    }
    if (!symbols || !names)
        return 0;
    scan(info, rel, relSize, relEntry, symbols, names, begin, end, search);
    scan(info, rela, relaSize, relaEntry, symbols, names, begin, end, search);
    scan(info, plt, pltSize, pltRela ? sizeof(ElfW(Rela)) : sizeof(ElfW(Rel)), symbols, names,
         begin, end, search);
    return 0;
}

// The definition in the object that holds this code, whatever another object defines.
const void *ownDefinition(const char *symbol)
{
    Dl_info self;
    if (!dladdr(reinterpret_cast<const void *>(&ownDefinition), &self) || !self.dli_fname)
        return nullptr;
    void *handle = dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    const void *definition = dlsym(handle, symbol);
    dlclose(handle);
    return definition;
}

} // namespace

Binding qtBinding(const char *symbol)
{
    const void *ours = ownDefinition(symbol);
    if (!ours)
        return Binding::Elsewhere;
    Search search { symbol, ours };
    dl_iterate_phdr(visit, &search);
    if (!search.found)
        return Binding::NotCalled;
    if (search.elsewhere)
        return Binding::Elsewhere;
    // A lazy binding will be made as a lookup from the global scope makes it.
    if (search.lazy && dlsym(RTLD_DEFAULT, symbol) != ours)
        return Binding::Elsewhere;
    return Binding::Ours;
}

void reportIneffective(const char *hook, const char *instead)
{
    qWarning("Hook not in effect: %s; %s", hook, instead);
}

} // namespace Vorlane::HookCheck
