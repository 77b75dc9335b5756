// Where a popup goes: the positioner's placement and its constraint adjustments at the screen's
// edges.

#include "popupgeometry.h"

#include <QTest>

using Vorlane::PopupPositioner;

class tst_PopupGeometry : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
};

namespace {

constexpr Qt::Edges none;
const Qt::Orientations neither;
const Qt::Orientations both = Qt::Horizontal | Qt::Vertical;

// A 100x50 popup below and right of the point (x, y) of its parent.
PopupPositioner menuAt(int x, int y)
{
    PopupPositioner p;
    p.size = QSize(100, 50);
    p.anchorRect = QRect(x, y, 1, 1);
    p.anchorEdges = Qt::TopEdge | Qt::LeftEdge;
    p.gravityEdges = Qt::BottomEdge | Qt::RightEdge;
    return p;
}

PopupPositioner with(PopupPositioner p, Qt::Orientations slide, Qt::Orientations flip,
                     Qt::Orientations resize)
{
    p.slide = slide;
    p.flip = flip;
    p.resize = resize;
    return p;
}

} // namespace

Q_DECLARE_METATYPE(PopupPositioner)

void tst_PopupGeometry::placement_data()
{
    QTest::addColumn<PopupPositioner>("positioner");
    QTest::addColumn<QRect>("bounds");
    QTest::addColumn<QRect>("expected");

    // The screen seen from a parent whose window starts at x 448 of an 800x480 screen.
    const QRect screen(-448, 0, 800, 480);
    QTest::newRow("inside: as placed")
        << with(menuAt(100, 10), both, both, both) << screen << QRect(100, 10, 100, 50);
    QTest::newRow("outside, no adjustment: left outside")
        << menuAt(300, 10) << screen << QRect(300, 10, 100, 50);
    QTest::newRow("slid back from the right edge")
        << with(menuAt(300, 10), Qt::Horizontal, neither, neither) << screen
        << QRect(252, 10, 100, 50);
    QTest::newRow("flipped to the left of the anchor")
        << with(menuAt(300, 10), both, Qt::Horizontal, neither) << screen
        << QRect(201, 10, 100, 50);
    QTest::newRow("flipped up at the bottom")
        << with(menuAt(10, 460), neither, Qt::Vertical, neither) << screen
        << QRect(10, 411, 100, 50);
    QTest::newRow("flip that does not fit either: slid instead")
        << with(menuAt(300, 10), Qt::Horizontal, Qt::Horizontal, neither) << QRect(250, 0, 120, 480)
        << QRect(270, 10, 100, 50);
    QTest::newRow("resized at the right edge")
        << with(menuAt(300, 10), neither, neither, Qt::Horizontal) << screen
        << QRect(300, 10, 52, 50);
    QTest::newRow("larger than the screen: slid to its start, then cut")
        << with(menuAt(0, 0), Qt::Vertical, neither, Qt::Vertical) << QRect(0, 0, 200, 30)
        << QRect(0, 0, 100, 30);
    QTest::newRow("only the constrained axis changes")
        << with(menuAt(300, 10), Qt::Horizontal, neither, neither) << QRect(-448, 20, 800, 460)
        << QRect(252, 10, 100, 50);

    PopupPositioner centred = menuAt(0, 0);
    centred.anchorRect = QRect(0, 0, 40, 20);
    centred.anchorEdges = none;
    centred.gravityEdges = none;
    centred.offset = QPoint(5, -5);
    QTest::newRow("centred on the anchor rectangle, with offset")
        << centred << screen << QRect(-25, -20, 100, 50);
}

void tst_PopupGeometry::placement()
{
    QFETCH(PopupPositioner, positioner);
    QFETCH(QRect, bounds);
    QFETCH(QRect, expected);
    QCOMPARE(Vorlane::placePopup(positioner, bounds), expected);
}

QTEST_APPLESS_MAIN(tst_PopupGeometry)
#include "tst_popupgeometry.moc"
