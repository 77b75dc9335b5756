#include "configuratorregistry.h"

#include <client.h>
#include <details.h>
#include <layout.h>

#include <QQmlEngine>
#include <QtWaylandCompositor/QWaylandClient>
#include <QtWaylandCompositor/QWaylandSurface>

namespace Vorlane {

namespace {

// The process of a top-level's client, or 0 when it is unknown.
qint64 processIdOf(QWaylandXdgToplevel *toplevel)
{
    QWaylandXdgSurface *xdgSurface = toplevel ? toplevel->xdgSurface() : nullptr;
    QWaylandSurface *surface = xdgSurface ? xdgSurface->surface() : nullptr;
    return surface && surface->client() ? surface->client()->processId() : 0;
}

const QString quickBarId = QStringLiteral("QuickBar");
const QString builtInContainer
    = QStringLiteral("qrc:///Kestrix/Vorlane/Application/SurfaceContainer.qml");

// The first region of a line of the desktop entry, unless it names none or the quick bar.
QString firstRegion(const QMap<QString, QStringList> &lines, const QString &layoutId)
{
    const QStringList regions = lines.value(layoutId);
    const QString first = regions.isEmpty() ? QString() : regions.first();
    return first == quickBarId ? QString() : first;
}

} // namespace

ConfiguratorRegistry::ConfiguratorRegistry(QObject *parent)
    : QObject(parent)
{ }

void ConfiguratorRegistry::setShell(QWaylandXdgShell *shell)
{
    if (m_shell == shell)
        return;
    if (m_shell)
        disconnect(m_shell, nullptr, this, nullptr);
    m_shell = shell;
    // The xdg surface announces its top-level before the shell does, and so before the scene.
    if (m_shell) {
        connect(m_shell, &QWaylandXdgShell::xdgSurfaceCreated, this,
                [this](QWaylandXdgSurface *xdgSurface) {
                    connect(xdgSurface, &QWaylandXdgSurface::toplevelCreated, this,
                            [this, xdgSurface] { handleToplevel(xdgSurface); });
                });
    }
    emit shellChanged();
}

// Only a lookup: the scene's bindings ask again while a top-level is being destroyed, when a
// new configurator would be handed an object that is half gone.
ToplevelConfigurator *ConfiguratorRegistry::configuratorOf(QWaylandXdgToplevel *toplevel)
{
    return m_configurators.value(toplevel);
}

void ConfiguratorRegistry::handleToplevel(QWaylandXdgSurface *xdgSurface)
{
    QWaylandXdgToplevel *toplevel = xdgSurface->toplevel();
    if (!toplevel)
        return;
    // Counted as the scene counts its entries: a process beyond its share is not listed, and
    // gets no configurator.
    const qint64 pid = processIdOf(toplevel);
    bool admitted = true;
    if (pid > 0) {
        int &count = m_toplevelsOf[pid];
        ++count;
        admitted = count <= m_maxPerProcess;
        connect(toplevel, &QObject::destroyed, this, [this, pid] {
            if (--m_toplevelsOf[pid] <= 0)
                m_toplevelsOf.remove(pid);
        });
    }
    if (admitted) {
        auto *configurator = new ToplevelConfigurator(toplevel);
        // Handed to the scene through an invokable, which would leave it to the collector.
        QQmlEngine::setObjectOwnership(configurator, QQmlEngine::CppOwnership);
        configurator->setToplevel(toplevel);
        m_configurators.insert(toplevel, configurator);
        connect(toplevel, &QObject::destroyed, this,
                [this, toplevel] { m_configurators.remove(toplevel); });
    }
    // The client sends its parent and its first commit right after the top-level, handled before
    // control is back in the event loop.
    // The xdg surface keeps a plain pointer to its wl_surface, which the client may destroy first:
    // the surface is watched on its own.
    QMetaObject::invokeMethod(
        this,
        [this, toplevel = QPointer<QWaylandXdgToplevel>(toplevel),
         xdgSurface = QPointer<QWaylandXdgSurface>(xdgSurface),
         surface = QPointer<QWaylandSurface>(xdgSurface->surface())] {
            if (!toplevel || !xdgSurface || !surface || surface->isDestroyed())
                return;
            if (!toplevel->parentToplevel() && configuratorOf(toplevel))
                configureFirst(toplevel);
            emit toplevelReady(toplevel, xdgSurface);
        },
        Qt::QueuedConnection);
}

// The same decision as the scene's for a new entry: the client's region in the current layout
// (its own line, else its DEFAULT line), or the quick bar when it starts minimised or has none.
void ConfiguratorRegistry::configureFirst(QWaylandXdgToplevel *toplevel)
{
    const qint64 pid = processIdOf(toplevel);
    if (!m_manager || pid <= 0)
        return;
    const Core::Client *client = m_manager->registerClient(uint(pid));
    const Core::Details *details = client ? client->details() : nullptr;
    const QString own = details ? details->surfaceContainer() : QStringLiteral("Default");
    // Another container decides its client's area itself once it exists.
    if ((own == QLatin1String("Default") ? m_containerSource : own) != builtInContainer)
        return;
    const QList<Core::Layout *> layouts = m_manager->layouts();
    const int index = m_manager->selectedLayoutIndex();
    const Core::Layout *layout = index >= 0 && index < layouts.size() ? layouts.at(index) : nullptr;
    const bool startMinimized = details && details->windowState() == Core::Details::WS_MINIMIZED;
    QString region;
    if (layout && !startMinimized && details) {
        const QMap<QString, QStringList> lines = details->defaultRegions();
        region = firstRegion(lines, layout->id());
        if (region.isEmpty())
            region = firstRegion(lines, QStringLiteral("DEFAULT"));
        if (region == QLatin1String("DEFAULT"))
            region = layout->defaultRegion();
        if (!region.isEmpty() && !layout->regionExists(region))
            return;
    }
    // Before the scene is laid out its area has no size yet; the scene configures the client.
    if (!region.isEmpty() && m_areaSize.isEmpty())
        return;
    const QRectF rect = m_manager->getRegionRect(region.isEmpty() ? quickBarId : region);
    ToplevelConfigurator *configurator = configuratorOf(toplevel);
    if (!configurator)
        return;
    const QRectF area(m_areaPosition.x() + m_areaSize.width() * rect.x(),
                      m_areaPosition.y() + m_areaSize.height() * rect.y(),
                      m_areaSize.width() * rect.width(), m_areaSize.height() * rect.height());
    configurator->setSize(area.size());
    configurator->setCoversOutput(coversScreen(area, m_screenSize));
    if (!region.isEmpty())
        configurator->takeFocus();
    configurator->configureNow();
}

bool ConfiguratorRegistry::coversScreen(const QRectF &area, const QSizeF &screen) const
{
    // Half a pixel of slack for the fractions of a layout.
    constexpr qreal slack = 0.5;
    return !screen.isEmpty() && area.left() <= slack && area.top() <= slack
        && area.right() >= screen.width() - slack && area.bottom() >= screen.height() - slack;
}

} // namespace Vorlane
