#include "popupgeometry.h"

#include <algorithm>

namespace Vorlane {

namespace {

// The start of the popup along one axis: the anchor point (an edge of the anchor rectangle, or
// its middle), then the popup put on the side its gravity names, or centred on the point.
int place(int anchorStart, int anchorLength, int length, bool anchorLow, bool anchorHigh,
          bool gravityLow, bool gravityHigh)
{
    const int point = anchorLow ? anchorStart
        : anchorHigh            ? anchorStart + anchorLength
                                : anchorStart + anchorLength / 2;
    return gravityLow ? point - length : gravityHigh ? point : point - length / 2;
}

bool outside(int start, int length, int boundsStart, int boundsLength)
{
    return start < boundsStart || start + length > boundsStart + boundsLength;
}

struct Axis
{
    int start;
    int length;
};

// One axis through flip, slide and resize.
Axis constrain(Axis axis, int boundsStart, int boundsLength, bool flip, bool slide, bool resize,
               int flippedStart)
{
    if (boundsLength <= 0 || !outside(axis.start, axis.length, boundsStart, boundsLength))
        return axis;
    if (flip && !outside(flippedStart, axis.length, boundsStart, boundsLength))
        return { flippedStart, axis.length };
    if (slide) {
        // The leading edge wins where the popup is larger than the bounds.
        axis.start = std::min(axis.start, boundsStart + boundsLength - axis.length);
        axis.start = std::max(axis.start, boundsStart);
    }
    if (resize && outside(axis.start, axis.length, boundsStart, boundsLength)) {
        const int start = std::max(axis.start, boundsStart);
        const int end = std::min(axis.start + axis.length, boundsStart + boundsLength);
        if (end > start)
            axis = { start, end - start };
    }
    return axis;
}

} // namespace

QRect placePopup(const PopupPositioner &p, const QRect &bounds)
{
    const QRect &a = p.anchorRect;
    const int w = p.size.width();
    const int h = p.size.height();
    const auto xOf = [&](bool mirrored) {
        const bool anchorLeft = p.anchorEdges.testFlag(mirrored ? Qt::RightEdge : Qt::LeftEdge);
        const bool anchorRight = p.anchorEdges.testFlag(mirrored ? Qt::LeftEdge : Qt::RightEdge);
        const bool gravityLeft = p.gravityEdges.testFlag(mirrored ? Qt::RightEdge : Qt::LeftEdge);
        const bool gravityRight = p.gravityEdges.testFlag(mirrored ? Qt::LeftEdge : Qt::RightEdge);
        return place(a.x(), a.width(), w, anchorLeft, anchorRight, gravityLeft, gravityRight)
            + p.offset.x();
    };
    const auto yOf = [&](bool mirrored) {
        const bool anchorTop = p.anchorEdges.testFlag(mirrored ? Qt::BottomEdge : Qt::TopEdge);
        const bool anchorBottom = p.anchorEdges.testFlag(mirrored ? Qt::TopEdge : Qt::BottomEdge);
        const bool gravityTop = p.gravityEdges.testFlag(mirrored ? Qt::BottomEdge : Qt::TopEdge);
        const bool gravityBottom = p.gravityEdges.testFlag(mirrored ? Qt::TopEdge : Qt::BottomEdge);
        return place(a.y(), a.height(), h, anchorTop, anchorBottom, gravityTop, gravityBottom)
            + p.offset.y();
    };
    const Axis x
        = constrain({ xOf(false), w }, bounds.x(), bounds.width(), p.flip.testFlag(Qt::Horizontal),
                    p.slide.testFlag(Qt::Horizontal), p.resize.testFlag(Qt::Horizontal), xOf(true));
    const Axis y
        = constrain({ yOf(false), h }, bounds.y(), bounds.height(), p.flip.testFlag(Qt::Vertical),
                    p.slide.testFlag(Qt::Vertical), p.resize.testFlag(Qt::Vertical), yOf(true));
    return QRect(x.start, y.start, x.length, y.length);
}

} // namespace Vorlane
