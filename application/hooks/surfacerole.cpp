#include "surfacerole.h"

#include <QtWaylandCompositor/QWaylandSurface>
#include <QtWaylandCompositor/QWaylandXdgShell>

#include <cstring>
#include <malloc.h>

namespace Vorlane::SurfaceRole {

bool dropXdgRole(wl_resource *resource)
{
    QWaylandSurface *surface = resource ? QWaylandSurface::fromResource(resource) : nullptr;
    if (!surface)
        return false;
    QWaylandSurfaceRole *role = surface->role();
    if (!role)
        return true;
    if (role != QWaylandXdgToplevel::role() && role != QWaylandXdgPopup::role())
        return false;
    // QObject's private data follows its virtual table, in every Qt 6.
    char *data = nullptr;
    std::memcpy(&data, reinterpret_cast<char *>(surface) + sizeof(void *), sizeof(data));
    if (!data)
        return false;
    // The one pointer-sized field within the allocation that holds the role.
    const size_t size = ::malloc_usable_size(data);
    size_t found = size;
    for (size_t offset = 0; offset + sizeof(role) <= size; offset += alignof(void *)) {
        QWaylandSurfaceRole *value = nullptr;
        std::memcpy(&value, data + offset, sizeof(value));
        if (value != role)
            continue;
        if (found != size)
            return false;
        found = offset;
    }
    if (found == size)
        return false;
    QWaylandSurfaceRole *none = nullptr;
    std::memcpy(data + found, &none, sizeof(none));
    if (surface->role() == nullptr)
        return true;
    std::memcpy(data + found, &role, sizeof(role));
    return false;
}

} // namespace Vorlane::SurfaceRole
