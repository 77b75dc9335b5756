#ifndef VORLANE_MEMORYTRIM_H
#define VORLANE_MEMORYTRIM_H

class QQmlEngine;

namespace Vorlane {

// Hands memory that start-up and placements no longer need back to the system whenever the
// picture has been still for a while: unused compiled components, the garbage of the JavaScript
// heap and the free pages of the allocator. No timer runs while nothing changes.
void trimMemoryWhenIdle(QQmlEngine &engine);

} // namespace Vorlane

#endif // VORLANE_MEMORYTRIM_H
