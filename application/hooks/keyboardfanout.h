#ifndef VORLANE_KEYBOARDFANOUT_H
#define VORLANE_KEYBOARDFANOUT_H

struct wl_display;

namespace Vorlane {

// Qt Wayland Compositor 6.4 keeps one wl_keyboard per client as the focus: a client with two
// (Firefox binds the seat twice) gets enter, modifiers and keys on one of them only, and
// ignores them. The fan-out sends those events to every wl_keyboard of the focused client.
namespace KeyboardFanout {
void install(wl_display *display);
}

} // namespace Vorlane

#endif // VORLANE_KEYBOARDFANOUT_H
