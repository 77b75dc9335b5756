import QtQuick
import QtWayland.Compositor

Item {
    id: container

    // The size last sent, so that settling bindings do not repeat a configure.
    property size sentSize: Qt.size(-1, -1)

    signal surfaceDestroyed

    // Tells the client the size of its region. Sizes are whole, non-negative pixels: a region
    // with negative or undefined geometry must not reach the client as a bogus configure.
    function announceSize() {
        if (!modelToplevel)
            return;
        const w = isFinite(shell.width) ? Math.max(0, Math.round(shell.width)) : 0;
        const h = isFinite(shell.height) ? Math.max(0, Math.round(shell.height)) : 0;
        if (w === sentSize.width && h === sentSize.height)
            return;
        sentSize = Qt.size(w, h);
        modelToplevel.sendFullscreen(sentSize);
    }

    implicitWidth: 800
    implicitHeight: 480
    visible: model.currentRegion !== root.quickBarID && model.currentRegion !== ""

    onVisibleChanged: {
        if (debugMode)
            console.debug("SurfaceContainer for " + model.name + " set " + (visible ? "Visible" : "Hidden"));
    }

    Rectangle {
        id: borderIndicator

        anchors.fill: parent
        color: "transparent"
        border.width: 2
        border.color: "#00f"
        visible: debugMode
    }

    ShellSurfaceItem {
        id: shell

        width: container.width
        height: container.height
        shellSurface: modelShellSurface

        onWidthChanged: container.announceSize()
        onHeightChanged: container.announceSize()
        onSurfaceDestroyed: container.surfaceDestroyed()
    }
}
