#ifndef VORLANE_POPUPGEOMETRY_H
#define VORLANE_POPUPGEOMETRY_H

#include <QPoint>
#include <QRect>
#include <QSize>

namespace Vorlane {

// What an xdg_positioner says about a popup, in the coordinates of its parent's window geometry.
struct PopupPositioner
{
    QSize size;
    QRect anchorRect;
    Qt::Edges anchorEdges;
    Qt::Edges gravityEdges;
    QPoint offset;
    Qt::Orientations slide;
    Qt::Orientations flip;
    Qt::Orientations resize;
};

// The popup's geometry as the positioner places it, then moved into bounds (same coordinates)
// along each axis where it would leave them, as far as the positioner's constraint adjustments
// allow: first flipped (kept only if the flipped place fits), then slid, then resized. Without an
// adjustment for an axis, the popup stays where it was put, partly outside.
QRect placePopup(const PopupPositioner &positioner, const QRect &bounds);

} // namespace Vorlane

#endif // VORLANE_POPUPGEOMETRY_H
