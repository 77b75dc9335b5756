import QtQuick
import Kestrix.Vorlane.Core as Core

// One client on the quick bar: icon, label and a glow whose colour and pulse tell where the
// client is and what its process does. Short presses become clicked, long presses longPressed.
Item {
    id: qbElement

    readonly property real controlSize: Math.min(width, height)
    // A dialog of the minimised client waits to be seen: the glow takes the highlight colour.
    readonly property bool waiting: typeof attention !== "undefined" && attention === true

    signal clicked(var pid)
    signal longPressed(var pid)

    implicitWidth: 100
    implicitHeight: 100

    state: {
        const region = currentRegion || "";
        if (region !== "" && region !== root.quickBarID)
            return "ONSCREEN";
        switch (executionState) {
        case Core.Client.ES_RUNNING:
            return "RESUMING";
        case Core.Client.ES_PAUSED:
            return "PAUSED";
        case Core.Client.ES_RESUMING:
            return "RESUMING";
        case Core.Client.ES_STARTING:
            return "STARTING";
        default:
            return "";
        }
    }

    states: [
        State {
            name: "ONSCREEN"
            PropertyChanges {
                target: dropShadow
                statusColor: settings.value("QuickBarElement/OnScreenColor")
            }
        },
        State {
            name: "RUNNING"
            PropertyChanges {
                target: dropShadow
                statusColor: settings.value("QuickBarElement/RunningColor")
            }
        },
        State {
            name: "RESUMING"
            extend: "RUNNING"
            PropertyChanges {
                target: shadowPulse
                running: true
            }
        },
        State {
            name: "PAUSED"
            PropertyChanges {
                target: dropShadow
                statusColor: settings.value("QuickBarElement/PausedColor")
            }
        },
        State {
            name: "STARTING"
            extend: "PAUSED"
            PropertyChanges {
                target: shadowPulse
                running: true
            }
        }
    ]

    // Settings are read once; nothing is reloaded while the system runs.
    QtObject {
        id: d

        readonly property real decorationFactor: Number(settings.value("QuickBarElement/DecorationSizeFactor"))
        readonly property real radiusPercent: Math.min(Math.max(Number(settings.value("QuickBarElement/Radius")), 0), 50)
        readonly property bool showLabel: settings.value("QuickBarElement/ShowLabel") == 1
        readonly property bool regionSelectEnabled: settings.value("Settings/DisableRegionSelect") != 1
        readonly property color faceColor: settings.value("QuickBarElement/Color")
        readonly property string iconSource: (!icon || icon === "Default") ? settings.value("Settings/DefaultClientIcon") : icon
    }

    Rectangle {
        id: dropShadow

        property color statusColor: settings.value("QuickBarElement/StoppedColor")

        objectName: "dropShadow"
        anchors.fill: parent
        visible: false
        radius: clientBg.radius
        opacity: 0.5
        color: maClient.pressed || qbElement.waiting ? settings.value("QuickBarElement/HighlightColor") : statusColor
    }

    // The glow: the element's shape in the status colour, softened by a Gaussian of the blur
    // radius and spreading past the element, drawn in one pass without intermediate textures.
    Item {
        id: dropShadowEffect

        property real radius: qbElement.controlSize * 0.1 * d.decorationFactor

        objectName: "dropShadowEffect"
        anchors.fill: parent
        anchors.margins: radius / 2

        ShaderEffect {
            readonly property color glowColor: dropShadow.color
            // A blurred copy of an item ignores that item's own opacity: the glow is as strong.
            readonly property real strength: 1.0
            readonly property size itemSize: Qt.size(width, height)
            readonly property size halfBox: Qt.size(dropShadowEffect.width / 2, dropShadowEffect.height / 2)
            readonly property real corner: Math.min(dropShadow.radius * Math.min(dropShadowEffect.width / Math.max(qbElement.width, 1), dropShadowEffect.height / Math.max(qbElement.height, 1)), halfBox.width, halfBox.height)
            readonly property real sigma: dropShadowEffect.radius / 4

            anchors.fill: parent
            anchors.margins: -2 * dropShadowEffect.radius
            fragmentShader: "qrc:/Kestrix/Vorlane/Application/shaders/glow.frag.qsb"
        }

        // The glow goes out and comes back once a second, in two steps rather than a fade:
        // every changed frame repaints and presents the whole output (some 4 ms with a
        // software GL), a fade does that sixty times a second, two steps twice. Between the
        // steps only pauses run, for which Qt's animation timer sleeps instead of ticking.
        SequentialAnimation {
            id: shadowPulse

            objectName: "shadowPulse"
            loops: Animation.Infinite
            // A pulse that is switched off finishes its cycle, so the glow ends fully opaque.
            alwaysRunToEnd: true

            PropertyAction {
                target: dropShadowEffect
                property: "opacity"
                value: 0.0
            }
            PauseAnimation {
                duration: 500
            }
            PropertyAction {
                target: dropShadowEffect
                property: "opacity"
                value: 1.0
            }
            PauseAnimation {
                duration: 500
            }
        }
    }

    Rectangle {
        id: clientBg

        objectName: "clientBg"
        anchors.fill: parent
        anchors.topMargin: 0.05 * qbElement.controlSize * d.decorationFactor
        anchors.leftMargin: 0.06 * qbElement.controlSize * d.decorationFactor
        anchors.rightMargin: 0.06 * qbElement.controlSize * d.decorationFactor
        anchors.bottomMargin: 0.07 * qbElement.controlSize * d.decorationFactor
        radius: qbElement.controlSize * d.radiusPercent / 100
        border.width: 1
        border.color: Qt.darker(d.faceColor, 2.0)
        gradient: Gradient {
            GradientStop {
                position: 0.0
                color: d.faceColor
            }
            GradientStop {
                position: 1.0
                color: settings.value("QuickBarElement/Color2", settings.value("QuickBarElement/Color"))
            }
        }

        Image {
            id: iconImage

            objectName: "iconImage"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: d.showLabel ? label.top : parent.bottom
            anchors.topMargin: clientBg.radius / 2
            anchors.leftMargin: clientBg.radius / 2
            anchors.rightMargin: clientBg.radius / 2
            anchors.bottomMargin: d.showLabel ? label.font.pixelSize / 2 : clientBg.radius / 2
            fillMode: Image.PreserveAspectFit
            source: d.iconSource
        }

        Text {
            id: label

            objectName: "label"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: font.pixelSize / 2
            text: d.showLabel ? name : ""
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            fontSizeMode: Text.HorizontalFit
            color: settings.value("QuickBarElement/LabelColor")
            font.pixelSize: settings.value("QuickBarElement/LabelSize")
            font.family: settings.value("QuickBarElement/LabelFont")
            // Compared with 1 like every other switch: a "0" from the settings file is plain.
            font.bold: settings.value("QuickBarElement/LabelBold") == 1
        }
    }

    MouseArea {
        id: maClient

        property double pressTime: 0
        property bool dragged: false
        // Set by a double click, whose press has already been reported as a click.
        property bool repeated: false
        // Source of the current time in milliseconds; anything with a now() will do.
        property var clock: Date

        objectName: "maClient"
        anchors.fill: parent

        onPressed: {
            if (d.regionSelectEnabled)
                longpressTimer.start();
            pressTime = clock.now();
            dragged = false;
            repeated = false;
        }
        onReleased: {
            if (dragged || repeated) {
                dragged = false;
                return;
            }
            // A longer press is a long press: the timer reports it at its own time.
            if (d.regionSelectEnabled && clock.now() - pressTime > 200)
                return;
            longpressTimer.stop();
            qbElement.clicked(pid);
        }
        // The list took the pointer over (to scroll): without a finger there is no long press.
        onCanceled: longpressTimer.stop()
        // Qt Quick turns a quick second press into a double click, and from a touch screen it
        // cancels that press: the double click is the second click, reported at once, and the
        // release that may follow adds nothing.
        onDoubleClicked: {
            longpressTimer.stop();
            repeated = true;
            qbElement.clicked(pid);
        }

        DragHandler {
            id: maDragHandler

            objectName: "maDragHandler"
            // A drag only suppresses click and long press; nothing is moved.
            target: null

            onActiveChanged: {
                if (active) {
                    maClient.dragged = true;
                    longpressTimer.stop();
                }
            }
        }

        Timer {
            id: longpressTimer

            objectName: "longpressTimer"
            interval: 300
            repeat: false

            onTriggered: {
                if (!maClient.dragged)
                    qbElement.longPressed(pid);
            }
        }
    }
}
