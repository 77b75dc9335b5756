#ifndef VORLANE_LOGTHROTTLE_H
#define VORLANE_LOGTHROTTLE_H

namespace Vorlane {

// Clients can make Qt's compositor and libwayland warn once per request (damage and
// damage_buffer on one surface, a maximum size below the minimum, requests Qt does not
// implement), as often as they like. The program's message handler lets a few warnings of
// each kind through per interval and tells with the next one how many it held back; a kind is
// the message's category and text with its numbers left out.
namespace LogThrottle {
void install();
}

} // namespace Vorlane

#endif // VORLANE_LOGTHROTTLE_H
