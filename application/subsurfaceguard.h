#ifndef VORLANE_SUBSURFACEGUARD_H
#define VORLANE_SUBSURFACEGUARD_H

struct wl_display;

namespace Vorlane {

// Qt Wayland Compositor 6.4 accepts any wl_subcompositor.get_subsurface: a surface made its own
// sub-surface, a cycle of sub-surfaces, or a second sub-surface role for one surface, and a cycle
// recurses without end (stack overflow) once an item shows the surface. The guard watches the
// requests before Qt handles them and refuses these with the protocol's bad_surface error.
namespace SubsurfaceGuard {
void install(wl_display *display);
}

} // namespace Vorlane

#endif // VORLANE_SUBSURFACEGUARD_H
