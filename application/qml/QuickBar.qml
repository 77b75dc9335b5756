import QtQuick
import Kestrix.Vorlane.Core as Core

// The panel along one screen edge: header, one element per connected client, the layout
// selector and, in debug mode, the device address. It turns input into four signals and
// leaves every decision to the scene.
Rectangle {
    id: quickbar

    readonly property real spacing: (state === "HORIZONTAL" ? height : width) * Number(settings.value("QuickBar/Spacing")) / 100
    readonly property real constrainingSize: state === "HORIZONTAL" ? height : width

    signal headerClicked
    signal bodyClicked
    signal elementClicked(var index)
    signal elementLongPressed(var index)

    function closeLayoutSelector() {
        // A replacement selector that failed to load, or offers no such function, must not
        // keep the bar from reporting input.
        const selector = layoutSelector.item;
        if (selector && typeof selector.closeLayoutSelector === "function")
            selector.closeLayoutSelector();
    }

    implicitWidth: 140
    implicitHeight: 140
    state: horizontalFlow ? "HORIZONTAL" : ""
    gradient: Gradient {
        GradientStop {
            position: 0.0
            color: settings.value("QuickBar/Color")
        }
        GradientStop {
            position: 1.0
            color: settings.value("QuickBar/Color2", settings.value("QuickBar/Color"))
        }
    }

    states: State {
        name: "HORIZONTAL"

        AnchorChanges {
            target: headerImage
            anchors.right: undefined
            anchors.bottom: quickbar.bottom
        }
        // Sizes that the anchors set in this state are given explicitly as well, so that
        // leaving it brings back the vertical bindings.
        PropertyChanges {
            target: headerImage
            height: quickbar.height
            width: d.hasHeaderImage ? imagePadded.implicitWidth + imagePadded.anchors.leftMargin + imagePadded.anchors.rightMargin : header.implicitWidth
        }
        AnchorChanges {
            target: header
            anchors.top: undefined
            anchors.horizontalCenter: undefined
            anchors.left: quickbar.left
            anchors.verticalCenter: quickbar.verticalCenter
        }
        PropertyChanges {
            target: header
            width: d.hasHeaderImage ? headerImage.width : 2 * quickbar.spacing + header.implicitWidth
        }
        AnchorChanges {
            target: dividerHeader
            anchors.top: quickbar.top
            anchors.bottom: quickbar.bottom
            anchors.left: undefined
            anchors.right: header.right
        }
        PropertyChanges {
            target: dividerHeader
            width: 1
            height: quickbar.height
        }
        AnchorChanges {
            target: clientList
            anchors.top: quickbar.top
            anchors.bottom: quickbar.bottom
            anchors.left: header.right
            anchors.right: layoutSelector.left
        }
        PropertyChanges {
            target: clientList
            anchors.topMargin: quickbar.spacing
            anchors.bottomMargin: quickbar.spacing
            anchors.leftMargin: quickbar.spacing
            anchors.rightMargin: layoutSelector.shown ? quickbar.spacing : 0
            orientation: ListView.Horizontal
        }
        AnchorChanges {
            target: dividerFooter
            anchors.top: quickbar.top
            anchors.bottom: quickbar.bottom
            anchors.left: clientList.right
            anchors.right: undefined
        }
        PropertyChanges {
            target: dividerFooter
            width: 1
            height: quickbar.height
        }
        AnchorChanges {
            target: layoutSelector
            anchors.top: quickbar.top
            anchors.bottom: quickbar.bottom
            anchors.left: undefined
            anchors.right: debugMode ? ipAddress.left : quickbar.right
        }
        PropertyChanges {
            target: layoutSelector
            anchors.topMargin: layoutSelector.shown ? quickbar.spacing : 0
            anchors.bottomMargin: layoutSelector.shown ? quickbar.spacing : 0
            anchors.leftMargin: 0
            anchors.rightMargin: layoutSelector.shown ? quickbar.spacing : 0
            width: layoutSelector.shown && layoutSelector.item ? layoutSelector.item.implicitWidth : 0
            height: quickbar.height - layoutSelector.anchors.topMargin - layoutSelector.anchors.bottomMargin
        }
        AnchorChanges {
            target: ipAddress
            anchors.horizontalCenter: undefined
            anchors.right: quickbar.right
        }
    }

    // Settings are read once; nothing is reloaded while the system runs.
    QtObject {
        id: d

        readonly property string headerImageSource: settings.value("QuickBar/HeaderImage") || ""
        readonly property bool hasHeaderImage: headerImageSource !== ""
        readonly property color dividerColor: settings.value("QuickBar/DividerColor")
        readonly property int entryCount: root.surfaceModel ? root.surfaceModel.count : 0
        // Absolute, so that a copy of this bar outside the program still finds it.
        readonly property url scrollBarUrl: "qrc:/Kestrix/Vorlane/Application/QuickBarScrollBar.qml"

        function relayBodyClick() {
            quickbar.closeLayoutSelector();
            quickbar.bodyClicked();
        }

        function relayHeaderClick() {
            quickbar.closeLayoutSelector();
            quickbar.headerClicked();
        }
    }

    // The address is shown in debug mode only; outside it nothing looks for it every second.
    Loader {
        id: device

        active: debugMode
        sourceComponent: Core.Device {}
    }

    MouseArea {
        id: nonElementInteraction

        objectName: "nonElementInteraction"
        anchors.fill: parent

        onClicked: d.relayBodyClick()
        // Qt Quick turns a quick second press into a double click, and from a touch screen it
        // cancels that press: the double click stands for the second click.
        onDoubleClicked: d.relayBodyClick()
    }

    Rectangle {
        id: borderShadow

        anchors.fill: parent
        anchors.margins: -1
        color: "transparent"
        border.width: 1
        border.color: d.dividerColor
    }

    Rectangle {
        id: dividerHeader

        objectName: "dividerHeader"
        anchors.top: header.bottom
        anchors.left: quickbar.left
        anchors.right: quickbar.right
        height: 1
        color: d.dividerColor
        opacity: 0.5
    }

    Rectangle {
        id: dividerFooter

        objectName: "dividerFooter"
        anchors.top: clientList.bottom
        anchors.left: quickbar.left
        anchors.right: quickbar.right
        height: 1
        color: d.dividerColor
        opacity: 0.5
    }

    ListView {
        id: clientList

        // Elements are square and as thick as the list.
        property real elementWidth: quickbar.state === "HORIZONTAL" ? height : width
        property real elementHeight: quickbar.state === "HORIZONTAL" ? height : width

        objectName: "clientList"
        anchors.top: header.bottom
        anchors.bottom: layoutSelector.top
        anchors.left: quickbar.left
        anchors.right: quickbar.right
        anchors.topMargin: quickbar.spacing / 2
        anchors.bottomMargin: layoutSelector.shown ? quickbar.spacing : 0
        anchors.leftMargin: quickbar.spacing
        anchors.rightMargin: quickbar.spacing
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        orientation: ListView.Vertical
        // The elements' blurred rims supply most of the visual gap.
        spacing: quickbar.spacing / 4
        model: root.surfaceModel

        delegate: Loader {
            id: quickbarElement

            property var client: model.client
            property string name: debugMode ? "PID: " + model.pid + " " + model.name : model.name
            property string icon: model.icon
            property int pid: model.pid
            property string currentRegion: model.currentRegion
            property int executionState: client ? client.executionState : -1
            // A dialog waits behind the minimised client.
            property bool attention: model.attention === true

            width: clientList.elementWidth
            height: clientList.elementHeight
            source: {
                const details = client ? client.details : null;
                const own = details ? details.quickBarElement : "Default";
                return (own && own !== "Default") ? own : String(settings.value("Components/QuickBarElement"));
            }

            Connections {
                function onClicked(pid) {
                    quickbar.closeLayoutSelector();
                    quickbar.elementClicked(index);
                }
                function onLongPressed(pid) {
                    quickbar.closeLayoutSelector();
                    quickbar.elementLongPressed(index);
                }

                target: quickbarElement.item
                ignoreUnknownSignals: true
            }
        }

        // Taps on the list's own area, beneath the elements; a mouse area, since a tap handler
        // here can keep a touch point it never sees released and then ignore every later tap.
        MouseArea {
            id: maList

            objectName: "maList"
            // In the list's content beneath the elements (a list stacks its delegates at 1),
            // always covering the visible part; on the list itself it would lie above them.
            parent: clientList.contentItem
            x: clientList.contentX
            y: clientList.contentY
            z: 0
            width: clientList.width
            height: clientList.height

            onClicked: d.relayBodyClick()
            onDoubleClicked: d.relayBodyClick()
        }
    }

    // The scroll bars exist only while the list overflows: the controls module they need costs
    // more memory than the whole rest of the bar. The first one loads it off the display thread.
    Loader {
        id: clientListScrollBarV

        readonly property string barName: "clientListScrollBarV"
        readonly property bool vertical: true
        readonly property Flickable list: clientList

        anchors.right: quickbar.right
        anchors.rightMargin: quickbar.spacing / 4
        anchors.top: clientList.top
        anchors.bottom: clientList.bottom
        // Counts the full spacing between elements, so it shows a little before an overflow.
        // A list without size (while the bar is built) has nothing to show a bar on.
        active: quickbar.state !== "HORIZONTAL" && clientList.height > 0 && clientList.height < d.entryCount * (quickbar.width - 2 * quickbar.spacing) + (d.entryCount - 1) * quickbar.spacing
        asynchronous: true
        source: d.scrollBarUrl
    }

    Loader {
        id: clientListScrollBarH

        readonly property string barName: "clientListScrollBarH"
        readonly property bool vertical: false
        readonly property Flickable list: clientList

        anchors.bottom: quickbar.bottom
        anchors.bottomMargin: quickbar.spacing / 4
        anchors.left: clientList.left
        anchors.right: clientList.right
        active: quickbar.state === "HORIZONTAL" && clientList.width > 0 && clientList.width < d.entryCount * (quickbar.height - 2 * quickbar.spacing) + (d.entryCount - 1) * quickbar.spacing
        asynchronous: true
        source: d.scrollBarUrl
    }

    Text {
        id: ipAddress

        objectName: "ipAddress"
        anchors.horizontalCenter: quickbar.horizontalCenter
        anchors.bottom: quickbar.bottom
        anchors.bottomMargin: quickbar.spacing
        text: debugMode ? "[ " + (device.item ? device.item.ipAddress : "") + " ]" : ""
        color: settings.value("QuickBar/LabelColor")
        font.pixelSize: settings.value("QuickBar/LabelSize")
    }

    Item {
        id: headerImage

        objectName: "headerImage"
        anchors.top: quickbar.top
        anchors.left: quickbar.left
        anchors.right: quickbar.right
        height: d.hasHeaderImage ? imagePadded.implicitHeight + imagePadded.anchors.topMargin + imagePadded.anchors.bottomMargin : header.implicitHeight

        Image {
            id: imagePadded

            objectName: "imagePadded"
            anchors.fill: parent
            anchors.leftMargin: quickbar.constrainingSize * Number(settings.value("QuickBar/HeaderImageMarginLeft")) / 100
            anchors.rightMargin: quickbar.constrainingSize * Number(settings.value("QuickBar/HeaderImageMarginRight")) / 100
            anchors.topMargin: quickbar.constrainingSize * Number(settings.value("QuickBar/HeaderImageMarginTop")) / 100
            anchors.bottomMargin: quickbar.constrainingSize * Number(settings.value("QuickBar/HeaderImageMarginBottom")) / 100
            fillMode: Image.PreserveAspectFit
            source: d.headerImageSource
        }
    }

    Text {
        id: header

        objectName: "header"
        anchors.top: quickbar.top
        anchors.horizontalCenter: quickbar.horizontalCenter
        width: implicitWidth
        // An empty label keeps its box, so the list always starts below the header.
        height: d.hasHeaderImage ? headerImage.height : quickbar.spacing + implicitHeight
        text: settings.value("QuickBar/Label", "") || ""
        color: settings.value("QuickBar/LabelColor")
        font.pixelSize: settings.value("QuickBar/LabelSize")
        font.family: settings.value("QuickBar/LabelFont")
        font.bold: settings.value("QuickBar/LabelBold") == 1
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        fontSizeMode: Text.HorizontalFit
    }

    MouseArea {
        objectName: "headerClickArea"
        anchors.fill: d.hasHeaderImage ? headerImage : header

        onClicked: d.relayHeaderClick()
        onDoubleClicked: d.relayHeaderClick()
    }

    Loader {
        id: layoutSelector

        property string selectorState: position
        property real spacing: quickbar.spacing
        readonly property bool shown: settings.value("Settings/DisableLayoutSelector") != 1 && root.layoutModel.count > 1

        objectName: "layoutSelector"
        anchors.left: quickbar.left
        anchors.right: quickbar.right
        anchors.bottom: debugMode ? ipAddress.top : quickbar.bottom
        anchors.leftMargin: shown ? quickbar.spacing : 0
        anchors.rightMargin: shown ? quickbar.spacing : 0
        anchors.bottomMargin: shown ? quickbar.spacing : 0
        height: shown && item ? item.implicitHeight : 0
        visible: shown
        enabled: shown
        source: String(settings.value("Components/LayoutSelector"))

        onLoaded: {
            if (typeof item.closeLayoutSelector !== "function")
                console.warn("QuickBar: layout selector " + source + " offers no closeLayoutSelector()");
        }

        Connections {
            // The selector's own click is relayed as-is: closing it here would undo its toggle.
            function onClicked() {
                quickbar.bodyClicked();
            }

            target: layoutSelector.item
            ignoreUnknownSignals: true
        }
    }
}
