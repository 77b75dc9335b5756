#ifndef VORLANE_PROTOCOLGUARD_H
#define VORLANE_PROTOCOLGUARD_H

struct wl_display;

namespace Vorlane {

// Qt Wayland Compositor 6.4 trusts some request sequences that crash it or leak:
// - wl_subcompositor.get_subsurface for a surface and itself, a cycle of sub-surfaces, or a
//   second sub-surface role of one surface (a cycle recurses without end once an item shows it);
// - requests on an xdg_surface whose wl_surface is destroyed (get_toplevel dereferences it);
// - destroying an xdg_surface before its toplevel or popup, and requests on such a role object
//   (Qt keeps dangling pointers to the xdg_surface);
// - a buffer scale below 1 (a division by zero on commit) or a transform outside the enum.
// The guard sees every request before Qt handles it and refuses these with a protocol error,
// which disconnects the client.
namespace ProtocolGuard {
void install(wl_display *display);
}

} // namespace Vorlane

#endif // VORLANE_PROTOCOLGUARD_H
