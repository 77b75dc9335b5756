#ifndef VORLANE_PROTOCOLGUARD_H
#define VORLANE_PROTOCOLGUARD_H

struct wl_display;

namespace Vorlane {

// Qt Wayland Compositor 6.4 trusts some request sequences that crash it or leak:
// - wl_subcompositor.get_subsurface for a surface and itself, a cycle of sub-surfaces, or a
//   second sub-surface role of one surface (a cycle recurses without end once an item shows it);
// - xdg_wm_base.get_xdg_surface for a wl_surface that has a live xdg_surface (its two top-levels
//   share the surface, and destroying one may leave stale pointers in the other's focus handling);
// - requests on an xdg_surface whose wl_surface is destroyed (get_toplevel dereferences it);
// - destroying an xdg_surface before its toplevel or popup, and requests on such a role object
//   (Qt keeps dangling pointers to the xdg_surface);
// - xdg_surface.ack_configure after its xdg_toplevel is destroyed (Qt deletes the top-level but
//   the xdg_surface keeps acknowledging into it);
// - a buffer scale below 1 (a division by zero on commit) or a transform outside the enum.
// The guard sees every request before Qt handles it, through libwayland's protocol logger, and
// refuses these with a protocol error, which disconnects the client.
namespace ProtocolGuard {
// Proves on a display of its own that libwayland shows the guard each request, by name, before
// the implementation, and that a refusal keeps the request from it. It silences libwayland's log:
// call it before the connection acceptor sets its handler.
bool selfTest();
void install(wl_display *display);
} // namespace ProtocolGuard

} // namespace Vorlane

#endif // VORLANE_PROTOCOLGUARD_H
