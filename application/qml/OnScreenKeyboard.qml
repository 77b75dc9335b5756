import QtQuick
import QtQuick.Window
import Kestrix.Vorlane.Application

// The on-screen keyboard at the bottom of its parent's area, shown while the surface with the
// keyboard focus wants text. The panel is built when a client first wants text and kept: a
// device that never types never pays for it.
Item {
    id: keyboard

    // False leaves the protocols unoffered and the panel unbuilt.
    property bool available: false
    property var compositor: null
    property real maximumHeight: 0
    property var languages: ["en_US"]
    readonly property bool shown: textInput.wanted && panel.status === Loader.Ready
    // The panel's top edge in the parent's coordinates; the bottom while it is hidden.
    readonly property real panelTop: shown ? y + height - panel.height : y + height

    height: panel.height
    visible: shown

    onShownChanged: {
        if (debugMode)
            console.debug("OnScreenKeyboard: " + (shown ? "shown" : "hidden"));
        // The protocols tell the input method about the focused client and ask it to show the
        // panel themselves, but the first time before the panel and its input context exist.
        if (shown) {
            Qt.inputMethod.update(Qt.ImQueryAll);
            Qt.inputMethod.show();
        } else {
            Qt.inputMethod.hide();
        }
    }

    TextInputFocus {
        id: textInput

        compositor: keyboard.available ? keyboard.compositor : null

        onWantedChanged: {
            if (!wanted)
                return;
            if (debugMode)
                firstFrame.since = Date.now();
            panel.active = true;
        }
    }

    // In debug mode: how long the panel takes from a client's request to the screen.
    Connections {
        id: firstFrame

        property real since: -1

        target: since >= 0 ? keyboard.Window.window : null

        function onFrameSwapped() {
            if (keyboard.shown)
                console.debug("OnScreenKeyboard: first frame after " + (Date.now() - firstFrame.since) + " ms");
            firstFrame.since = -1;
        }
    }

    Loader {
        id: panel

        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        // Sized by the panel, whose height follows its width.
        active: false
        source: "qrc:/Kestrix/Vorlane/Application/OnScreenKeyboardPanel.qml"

        onLoaded: {
            item.maximumWidth = Qt.binding(() => keyboard.width);
            item.maximumHeight = Qt.binding(() => keyboard.maximumHeight);
            item.setLanguages(keyboard.languages);
        }
    }
}
