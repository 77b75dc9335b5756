import QtQuick
import QtWayland.Compositor

Item {
    id: container

    // The size the client is told: all of the container.
    readonly property size clientSize: Qt.size(width, height)
    // A dialog's container is its buffer's size: the fill would only show through the
    // transparent shadow that GTK draws around it.
    property bool filled: true

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
        visible: container.filled
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

        // Set to 0, a larger buffer is cut at the edges instead of scaled down.
        readonly property bool scaleToFit: settings.value("SurfaceContainer/ScaleToFit") == 1

        anchors.fill: parent
        clip: true

        // The buffer at its own size where it fits, centred. A larger one is scaled down
        // uniformly until it fits, never up; Qt Quick maps pointer and touch input through the
        // same scale into surface coordinates. Without scaling it is shown from its top or left
        // edge, since a client lays out its content from there.
        ShellSurfaceItem {
            id: shell

            readonly property real fit: viewport.scaleToFit && width > 0 && height > 0
                                        && viewport.width > 0 && viewport.height > 0
                                        ? Math.min(1, viewport.width / width, viewport.height / height) : 1

            x: width * fit < viewport.width ? Math.round((viewport.width - width * fit) / 2) : 0
            y: height * fit < viewport.height ? Math.round((viewport.height - height * fit) / 2) : 0
            transformOrigin: Item.TopLeft
            scale: fit
            shellSurface: modelShellSurface
            // Popups are shown above every region by the scene, never cut by this one.
            autoCreatePopupItems: false

            onSurfaceDestroyed: container.surfaceDestroyed()
        }
    }
}
