#include "popuplayer.h"

#include "hooks/popuprequests.h"
#include "popupgeometry.h"

#include <QMouseEvent>
#include <QTouchEvent>
#include <QtWaylandCompositor/QWaylandClient>
#include <QtWaylandCompositor/QWaylandSurface>
#include <QtWaylandCompositor/QWaylandView>

#include <cmath>

namespace Vorlane {

namespace {

QString suppressedNote(MessageThrottle &throttle)
{
    const int suppressed = throttle.takeSuppressed();
    return suppressed > 0 ? QStringLiteral(" (%1 similar messages suppressed)").arg(suppressed)
                          : QString();
}

// Where a surface's window starts inside it: popups are positioned relative to that.
QPoint windowOrigin(QWaylandXdgSurface *xdgSurface)
{
    const QRect geometry = xdgSurface->windowGeometry();
    return geometry.isValid() ? geometry.topLeft() : QPoint();
}

} // namespace

PopupLayer::PopupLayer(QQuickItem *parent)
    : QQuickItem(parent)
    , m_ignoredMoves(new QQuickItem(this))
{
    m_ignoredMoves->setVisible(false);
}

PopupLayer::~PopupLayer()
{
    qDeleteAll(m_popups);
}

void PopupLayer::setShell(QWaylandXdgShell *shell)
{
    if (m_shell == shell)
        return;
    if (m_shell)
        disconnect(m_shell, nullptr, this, nullptr);
    m_shell = shell;
    if (m_shell)
        connect(m_shell, &QWaylandXdgShell::popupCreated, this, &PopupLayer::handlePopupCreated);
    emit shellChanged();
}

QWaylandQuickItem *PopupLayer::itemOf(QWaylandXdgSurface *xdgSurface) const
{
    if (!xdgSurface)
        return nullptr;
    if (const Popup *popup = m_popups.value(xdgSurface))
        return popup->item;
    QWaylandSurface *surface = xdgSurface->surface();
    if (!surface)
        return nullptr;
    QWaylandQuickItem *hidden = nullptr;
    const QList<QWaylandView *> views = surface->views();
    for (QWaylandView *view : views) {
        auto *item = qobject_cast<QWaylandQuickItem *>(view->renderObject());
        if (!item || item->window() != window())
            continue;
        if (item->isVisible())
            return item;
        hidden = item;
    }
    return hidden;
}

void PopupLayer::handlePopupCreated(QWaylandXdgPopup *popup, QWaylandXdgSurface *xdgSurface)
{
    QWaylandSurface *surface = xdgSurface ? xdgSurface->surface() : nullptr;
    if (!popup || !surface || m_popups.contains(xdgSurface))
        return;
    auto *entry = new Popup;
    entry->popup = popup;
    entry->xdgSurface = xdgSurface;
    entry->parent = popup->parentXdgSurface();
    entry->client = surface->client() ? surface->client()->client() : nullptr;
    m_popups.insert(xdgSurface, entry);
    m_order.append(xdgSurface);
    if (Popup *parentPopup = m_popups.value(entry->parent))
        ++parentPopup->children;
    connect(xdgSurface, &QObject::destroyed, this, [this, xdgSurface] { forget(xdgSurface); });

    const QPointer<PopupLayer> self(this);
    PopupRequests::Handlers handlers;
    handlers.grab = [self, xdgSurface] {
        if (self)
            self->handleGrab(xdgSurface);
    };
    handlers.destroying = [self, xdgSurface] {
        Popup *gone = self ? self->m_popups.value(xdgSurface) : nullptr;
        if (!gone)
            return true;
        if (gone->children > 0)
            return false;
        // Unmapped with its role; the surface itself goes later.
        if (Popup *parentPopup = self->m_popups.value(gone->parent))
            --parentPopup->children;
        gone->parent.clear();
        gone->grabbing = false;
        if (gone->item)
            gone->item->setVisible(false);
        self->updateInputAcceptance();
        return true;
    };
    PopupRequests::adoptNewPopup(entry->client, std::move(handlers));

    QWaylandQuickItem *parentItem = itemOf(entry->parent);
    if (!parentItem || !parentItem->isVisible()) {
        if (m_unplacedWarnings.allow())
            qWarning().noquote() << QStringLiteral("PopupLayer: closing a popup whose parent is "
                                                   "not shown%1")
                                        .arg(suppressedNote(m_unplacedWarnings));
        popup->sendPopupDone();
        return;
    }

    // The screen, in the coordinates of the parent's window, bounds the popup.
    const QPointF origin = windowOrigin(entry->parent);
    const auto toParent = [&](const QPointF &layerPoint) {
        return parentItem->mapToSurface(parentItem->mapFromItem(this, layerPoint)) - origin;
    };
    const QPointF topLeft = toParent(QPointF(0, 0));
    const QPointF bottomRight = toParent(QPointF(width(), height()));
    const QRect bounds(
        QPoint(int(std::ceil(topLeft.x())), int(std::ceil(topLeft.y()))),
        QPoint(int(std::floor(bottomRight.x())) - 1, int(std::floor(bottomRight.y())) - 1));
    PopupPositioner positioner;
    positioner.size = popup->positionerSize();
    positioner.anchorRect = popup->anchorRect();
    positioner.anchorEdges = popup->anchorEdges();
    positioner.gravityEdges = popup->gravityEdges();
    positioner.offset = popup->offset();
    positioner.slide = popup->slideConstraints();
    positioner.flip = popup->flipConstraints();
    positioner.resize = popup->resizeConstraints();
    const QRect geometry = placePopup(positioner, bounds);
    // Qt has just told the client the unconstrained geometry.
    if (geometry != QRect(popup->unconstrainedPosition(), popup->positionerSize()))
        popup->sendConfigure(geometry);

    auto *item = new QWaylandQuickShellSurfaceItem(this);
    entry->item = item;
    item->setMoveItem(m_ignoredMoves);
    item->setAutoCreatePopupItems(false);
    // The keyboard stays with the top-level, which stays activated.
    item->setFocusOnClick(false);
    item->setTransformOrigin(QQuickItem::TopLeft);
    item->setShellSurface(xdgSurface);

    // The parent's item may be scaled down to fit its region: its popups are scaled alike.
    const QPointer<QWaylandQuickItem> watchedParent(parentItem);
    const auto place = [this, item, watchedParent, xdgSurface, geometry] {
        QWaylandQuickItem *parentItem = watchedParent;
        QWaylandXdgSurface *parent
            = m_popups.contains(xdgSurface) ? m_popups.value(xdgSurface)->parent.data() : nullptr;
        if (!parent || !parentItem)
            return;
        const QPointF parentOrigin = windowOrigin(parent);
        const auto toLayer = [&](const QPointF &surfacePoint) {
            return parentItem->mapToItem(this, parentItem->mapFromSurface(surfacePoint));
        };
        const QPointF at = toLayer(parentOrigin + geometry.topLeft());
        const qreal scale
            = (toLayer(parentOrigin + QPointF(1000, 0)).x() - toLayer(parentOrigin).x()) / 1000;
        item->setScale(scale > 0 ? scale : 1);
        item->setPosition(at - QPointF(windowOrigin(xdgSurface)) * item->scale());
    };
    place();
    connect(xdgSurface, &QWaylandXdgSurface::windowGeometryChanged, item, place);
    entry->parentWatch << connect(parentItem, &QQuickItem::xChanged, item, place)
                       << connect(parentItem, &QQuickItem::yChanged, item, place)
                       << connect(parentItem, &QQuickItem::scaleChanged, item, place)
                       << connect(parentItem, &QQuickItem::visibleChanged, this,
                                  [this, xdgSurface, parentItem] {
                                      if (!parentItem->isVisible())
                                          closeChildrenOf(m_popups.contains(xdgSurface)
                                                              ? m_popups.value(xdgSurface)->parent
                                                              : nullptr);
                                  });
}

void PopupLayer::handleGrab(QWaylandXdgSurface *xdgSurface)
{
    Popup *entry = m_popups.value(xdgSurface);
    if (!entry)
        return;
    QWaylandSurface *surface = xdgSurface->surface();
    if (surface && surface->hasContent() && m_grabWarnings.allow())
        qWarning().noquote() << QStringLiteral("PopupLayer: a client grabbed a popup after "
                                               "showing it%1")
                                    .arg(suppressedNote(m_grabWarnings));
    entry->grabbing = true;
    updateInputAcceptance();
}

void PopupLayer::forget(QWaylandXdgSurface *xdgSurface)
{
    Popup *entry = m_popups.take(xdgSurface);
    m_order.removeOne(xdgSurface);
    if (!entry)
        return;
    if (Popup *parentPopup = m_popups.value(entry->parent))
        --parentPopup->children;
    for (const QMetaObject::Connection &connection : std::as_const(entry->parentWatch))
        disconnect(connection);
    // Not while the xdg surface is being destroyed: the item's own handling of that comes
    // first, and Qt's popup object, which it uses, goes after it.
    if (entry->item)
        entry->item->deleteLater();
    // Qt never deletes its popup object itself.
    if (entry->popup)
        entry->popup->deleteLater();
    delete entry;
    updateInputAcceptance();
}

void PopupLayer::close(wl_client *client, bool grabbingOnly)
{
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it) {
        Popup *entry = m_popups.value(*it);
        if (!entry || entry->client != client || !entry->parent
            || (grabbingOnly && !entry->grabbing))
            continue;
        entry->grabbing = false;
        if (entry->popup)
            entry->popup->sendPopupDone();
    }
    updateInputAcceptance();
}

void PopupLayer::closeChildrenOf(QWaylandXdgSurface *parent)
{
    if (!parent)
        return;
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it) {
        Popup *entry = m_popups.value(*it);
        if (entry && entry->parent == parent) {
            closeChildrenOf(*it);
            entry->grabbing = false;
            if (entry->popup)
                entry->popup->sendPopupDone();
        }
    }
    updateInputAcceptance();
}

// A press that reaches the layer missed every popup.
bool PopupLayer::dismissGrabs()
{
    QList<wl_client *> grabbing;
    for (const Popup *entry : std::as_const(m_popups)) {
        if (entry->grabbing && !grabbing.contains(entry->client))
            grabbing << entry->client;
    }
    for (wl_client *client : std::as_const(grabbing))
        close(client, true);
    return !grabbing.isEmpty();
}

void PopupLayer::mousePressEvent(QMouseEvent *event)
{
    if (dismissGrabs())
        event->accept();
    else
        event->ignore();
}

void PopupLayer::touchEvent(QTouchEvent *event)
{
    if (event->type() == QEvent::TouchBegin && dismissGrabs())
        event->accept();
    else
        event->ignore();
}

// Only while a popup grab is held does the layer take presses.
void PopupLayer::updateInputAcceptance()
{
    bool grabbing = false;
    for (const Popup *entry : std::as_const(m_popups))
        grabbing = grabbing || entry->grabbing;
    setAcceptedMouseButtons(grabbing ? Qt::AllButtons : Qt::NoButton);
    setAcceptTouchEvents(grabbing);
}

} // namespace Vorlane
