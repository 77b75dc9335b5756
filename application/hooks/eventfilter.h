#ifndef VORLANE_EVENTFILTER_H
#define VORLANE_EVENTFILTER_H

namespace Vorlane::EventFilter {

// Qt Wayland Compositor 6.8 sends some events without looking at the version the client bound,
// such as wl_seat.name (version 2) to a seat of version 1, and a client without a handler for
// it aborts. The program's own definitions of libwayland's event functions drop every event
// that is newer than the object it is sent to, with a rate-limited debug line.

// True when every event Qt sends passes through the filter.
bool inEffect();

} // namespace Vorlane::EventFilter

#endif // VORLANE_EVENTFILTER_H
