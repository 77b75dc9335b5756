#ifndef VORLANE_POPUPREQUESTS_H
#define VORLANE_POPUPREQUESTS_H

#include <functional>

struct wl_client;
struct wl_resource;

namespace Vorlane::PopupRequests {

struct Handlers
{
    // xdg_popup.grab.
    std::function<void()> grab;
    // xdg_popup.destroy, before it is carried out; false makes it the protocol error
    // not_the_topmost_popup instead.
    std::function<bool()> destroying;
};

// Qt Wayland Compositor 6.4 implements neither request of an xdg_popup: it logs "Not
// implemented" for each, and never destroys the popup's resource, which with Qt's popup object
// stays until the client disconnects. This serves both requests of the popup that Qt has just
// made for client (call it from the shell's popupCreated): destroy destroys the resource,
// unless handlers.destroying refuses. Returns the popup's resource, null when none is found.
wl_resource *adoptNewPopup(wl_client *client, Handlers handlers);

} // namespace Vorlane::PopupRequests

#endif // VORLANE_POPUPREQUESTS_H
