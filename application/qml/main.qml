import QtQuick
import QtQuick.Window
import QtWayland.Compositor
import QtWayland.Compositor.XdgShell
import Kestrix.Vorlane.Core

WaylandCompositor {
    id: root

    WaylandOutput {
        id: waylandOutput

        sizeFollowsWindow: true
        window: Window {
            id: win

            width: 800
            height: 480
            visible: true
            color: "#444"
        }
    }

    XdgShell {
        id: xdgShell
    }

    XdgDecorationManagerV1 {
        preferredMode: XdgToplevel.ServerSideDecoration
    }
}
