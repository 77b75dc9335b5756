import QtQuick
import QtWayland.Compositor

Item {
    id: container

    // The size the client is told: all of the container.
    readonly property size clientSize: Qt.size(width, height)

    signal surfaceDestroyed

    implicitWidth: 800
    implicitHeight: 480
    visible: model.currentRegion !== root.quickBarID && model.currentRegion !== ""

    onVisibleChanged: {
        if (debugMode)
            console.debug("SurfaceContainer for " + model.name + " set " + (visible ? "Visible" : "Hidden"));
    }

    // Where the client's buffer does not cover the container.
    Rectangle {
        anchors.fill: parent
        color: String(settings.value("SurfaceContainer/FillColor"))
    }

    Rectangle {
        id: borderIndicator

        anchors.fill: parent
        color: "transparent"
        border.width: 2
        border.color: "#00f"
        visible: debugMode
    }

    // Neither the picture nor the input of a larger buffer may reach beyond the container.
    Item {
        id: viewport

        anchors.fill: parent
        clip: true

        // The buffer at its own size, never scaled: centred where it is smaller than the
        // container, from the top or left edge where it is larger, since a client lays out its
        // content from there.
        ShellSurfaceItem {
            id: shell

            x: width < viewport.width ? Math.round((viewport.width - width) / 2) : 0
            y: height < viewport.height ? Math.round((viewport.height - height) / 2) : 0
            shellSurface: modelShellSurface

            onSurfaceDestroyed: container.surfaceDestroyed()
        }
    }
}
