// An example of replacing a component: a surface container that draws a frame round the client
// and a title bar with its name. Select it for every client in the settings file,
//     [Components]
//     SurfaceContainer=file:///etc/vorlane/qml/FramedSurfaceContainer.qml
// or for one client with X-SurfaceContainer in its desktop entry.
//
// The scene provides modelShellSurface, modelToplevel, model (the surface entry) and
// root.quickBarID; it sizes and places the container, and tells the client the size given by
// clientSize. The container shows the surface inside that area (this one unscaled, cut at its
// edges) and emits surfaceDestroyed() when the surface is gone; the scene shows popups.
import QtQuick
import QtWayland.Compositor

Item {
    id: container

    readonly property int frameWidth: 3
    readonly property int titleHeight: Math.round(Math.min(24, height / 6))
    // The client gets the area inside the frame.
    readonly property size clientSize: Qt.size(viewport.width, viewport.height)

    signal surfaceDestroyed

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

    // The client's area, filled where its buffer is smaller; a larger buffer is cut at its edges.
    Rectangle {
        id: viewport

        x: container.frameWidth
        y: container.titleHeight
        width: Math.max(0, container.width - 2 * container.frameWidth)
        height: Math.max(0, container.height - container.titleHeight - container.frameWidth)
        color: String(settings.value("SurfaceContainer/FillColor"))
        clip: true

        ShellSurfaceItem {
            id: shell

            x: width < viewport.width ? Math.round((viewport.width - width) / 2) : 0
            y: height < viewport.height ? Math.round((viewport.height - height) / 2) : 0
            shellSurface: modelShellSurface

            onSurfaceDestroyed: container.surfaceDestroyed()
        }
    }
}
