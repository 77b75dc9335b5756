#ifndef VORLANE_TESTS_ONSCREENKEYS_H
#define VORLANE_TESTS_ONSCREENKEYS_H

#include <QPointF>
#include <QRectF>

// Where the default style of Qt Virtual Keyboard puts some keys of its English layout on the
// on-screen keyboard: the panel is the rectangle as wide as the region area from the focused
// client's bottom edge to the area's bottom.
inline QPointF onScreenKey(const QRectF &panel, char key)
{
    QPointF at;
    switch (key) {
    case 'h':
        at = QPointF(0.598, 0.444);
        break;
    case 'i':
        at = QPointF(0.747, 0.226);
        break;
    default: // the space bar
        at = QPointF(0.497, 0.876);
        break;
    }
    return QPointF(panel.left() + panel.width() * at.x(), panel.top() + panel.height() * at.y());
}

#endif // VORLANE_TESTS_ONSCREENKEYS_H
