#ifndef VORLANE_CONFIGURATORREGISTRY_H
#define VORLANE_CONFIGURATORREGISTRY_H

#include "toplevelconfigurator.h"

#include <manager.h>

#include <QHash>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>
#include <QtWaylandCompositor/QWaylandXdgShell>

namespace Vorlane {

// Holds the configurator of every xdg top-level. It makes it when the top-level has appeared,
// before the scene hears of it, and tells the client its first size from the model there: the
// client can draw while the scene builds its entry, container and quick bar element. The scene
// later sets the same size, which is not sent again. Both wait until the requests that came with
// the top-level are handled, so that a dialog's parent is known and a dialog is never sized as
// a window of its own.
class ConfiguratorRegistry : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QWaylandXdgShell *shell READ shell WRITE setShell NOTIFY shellChanged)
    Q_PROPERTY(Vorlane::Core::Manager *manager MEMBER m_manager NOTIFY managerChanged)
    // The size of the area the regions divide, its position on the screen and the screen's size.
    Q_PROPERTY(QSizeF areaSize MEMBER m_areaSize NOTIFY areaSizeChanged)
    Q_PROPERTY(QPointF areaPosition MEMBER m_areaPosition NOTIFY areaPositionChanged)
    Q_PROPERTY(QSizeF screenSize MEMBER m_screenSize NOTIFY screenSizeChanged)
    // The surface container in use for clients that name none of their own.
    Q_PROPERTY(QString containerSource MEMBER m_containerSource NOTIFY containerSourceChanged)
    // Beyond this many top-levels of one process the scene lists none, and none is told a size.
    Q_PROPERTY(int maxPerProcess MEMBER m_maxPerProcess NOTIFY maxPerProcessChanged)

public:
    explicit ConfiguratorRegistry(QObject *parent = nullptr);

    QWaylandXdgShell *shell() const { return m_shell; }
    void setShell(QWaylandXdgShell *shell);

    // The configurator of a top-level, made when the top-level appears; it lives as long as the
    // top-level. Null for one that is gone.
    Q_INVOKABLE Vorlane::ToplevelConfigurator *configuratorOf(QWaylandXdgToplevel *toplevel);
    // Tells a new top-level the size of its region now, unless its container decides it or the
    // scene cannot yet; a size it was told already is not sent again.
    Q_INVOKABLE void configureFirst(QWaylandXdgToplevel *toplevel);

    // True when a client area, in screen coordinates, covers the whole screen: its client is
    // then configured full screen, else maximised.
    Q_INVOKABLE bool coversScreen(const QRectF &area, const QSizeF &screen) const;

signals:
    void shellChanged();
    void managerChanged();
    void areaSizeChanged();
    void areaPositionChanged();
    void screenSizeChanged();
    void containerSourceChanged();
    void maxPerProcessChanged();
    // A new top-level, with the requests sent together with it handled (its parent among them).
    void toplevelReady(QWaylandXdgToplevel *toplevel, QWaylandXdgSurface *xdgSurface);

private:
    void handleToplevel(QWaylandXdgSurface *xdgSurface);

    QPointer<QWaylandXdgShell> m_shell;
    QPointer<Core::Manager> m_manager;
    QSizeF m_areaSize;
    QPointF m_areaPosition;
    QSizeF m_screenSize;
    QString m_containerSource;
    int m_maxPerProcess = 32;
    QHash<QWaylandXdgToplevel *, ToplevelConfigurator *> m_configurators;
    QHash<qint64, int> m_toplevelsOf;
};

} // namespace Vorlane

#endif // VORLANE_CONFIGURATORREGISTRY_H
