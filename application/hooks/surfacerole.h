#ifndef VORLANE_SURFACEROLE_H
#define VORLANE_SURFACEROLE_H

struct wl_resource;

namespace Vorlane::SurfaceRole {

// Lets a wl_surface whose xdg_surface and role object are gone get a new xdg_surface, as the
// protocol allows and GTK 4 does to move a popup (it unmaps and maps it again where compositors
// cannot move popups). Qt keeps the surface's xdg role for good and refuses the new xdg_surface
// with a role error, which ends the client. Qt offers no way to drop a role: its field is found
// in the surface's private data by its value. Returns false when the surface has a role other
// than an xdg role, or the field could not be found.
bool dropXdgRole(wl_resource *surface);

} // namespace Vorlane::SurfaceRole

#endif // VORLANE_SURFACEROLE_H
