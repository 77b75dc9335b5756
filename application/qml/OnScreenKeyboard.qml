import QtQuick
import QtQuick.Window
import Kestrix.Vorlane.Application

// The on-screen keyboard at the bottom of its parent's area, shown while the surface with the
// keyboard focus wants text. The panel is built once a client that holds a text-input object has
// the focus, right after that focus change, so that it is ready when a text field is tapped, and
// kept: a device whose clients never take text never pays for it. It is built in one go: a build
// spread over frames and cut short by the compositor's end fills the log with Qt Virtual
// Keyboard's errors on Qt 6.8.
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

        onPossibleChanged: {
            if (possible)
                Qt.callLater(() => panel.active = true);
        }
        onWantedChanged: {
            if (!wanted)
                return;
            if (debugMode) {
                firstFrame.since = Date.now();
                firstFrame.frames = 0;
            }
            panel.active = true;
        }
    }

    // In debug mode: how long the panel takes from a client's request to the screen. A frame
    // swapped on a render thread may have been synchronised before the panel was shown: the
    // first one synchronised while it is shown counts.
    Connections {
        id: firstFrame

        property real since: -1
        property bool synchronised: false
        property int frames: 0

        target: since >= 0 ? keyboard.Window.window : null

        function onAfterSynchronizing() {
            if (keyboard.shown)
                firstFrame.synchronised = true;
        }
        function onFrameSwapped() {
            if (firstFrame.since < 0)
                return;
            ++firstFrame.frames;
            if (!firstFrame.synchronised)
                return;
            console.debug("OnScreenKeyboard: first frame after " + (Date.now() - firstFrame.since)
                          + " ms, frame " + firstFrame.frames + " since the request");
            firstFrame.since = -1;
            firstFrame.synchronised = false;
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
