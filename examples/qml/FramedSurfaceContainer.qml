// An example of replacing a component: a surface container that draws a frame round the client
// and a title bar with its name. Select it for every client in the settings file,
//     [Components]
//     SurfaceContainer=file:///etc/vorlane/qml/FramedSurfaceContainer.qml
// or for one client with X-SurfaceContainer in its desktop entry.
//
// The scene provides modelShellSurface, modelToplevel, model (the surface entry) and
// root.quickBarID; it sizes and places the container. The container must show the surface,
// tell the client its size, and emit surfaceDestroyed() when the surface is gone.
import QtQuick
import QtWayland.Compositor

Item {
    id: container

    readonly property int frameWidth: 3
    readonly property int titleHeight: Math.min(24, height / 6)

    signal surfaceDestroyed

    // Whole, non-negative pixels only: a minimised container is 0 by 0, so the frame would
    // otherwise give a negative size.
    function announceSize() {
        if (!modelToplevel)
            return;
        modelToplevel.sendFullscreen(Qt.size(Math.max(0, Math.round(shell.width)),
                                             Math.max(0, Math.round(shell.height))));
    }

    visible: model.currentRegion !== root.quickBarID && model.currentRegion !== ""

    Rectangle {
        id: frame

        anchors.fill: parent
        color: "#f4d35e"

        Text {
            anchors.left: parent.left
            anchors.leftMargin: container.frameWidth * 2
            anchors.verticalCenter: parent.top
            anchors.verticalCenterOffset: container.titleHeight / 2
            text: model.name
            color: "#1d3b53"
            font.pixelSize: Math.max(1, container.titleHeight * 0.6)
            font.bold: true
        }
    }

    ShellSurfaceItem {
        id: shell

        x: container.frameWidth
        y: container.titleHeight
        width: Math.max(0, container.width - 2 * container.frameWidth)
        height: Math.max(0, container.height - container.titleHeight - container.frameWidth)
        shellSurface: modelShellSurface

        onWidthChanged: container.announceSize()
        onHeightChanged: container.announceSize()
        onSurfaceDestroyed: container.surfaceDestroyed()
    }
}
