import QtQuick

// Caption and current layout name at the end of the quick bar. With two layouts a click
// switches to the other one; with more it opens a drop-down of all layouts beside the bar.
Rectangle {
    id: layoutSelector

    signal clicked

    function closeLayoutSelector() {
        selectorArea.visible = false;
    }

    function toggle() {
        if (root.layoutModel.count === 2)
            coremanager.selectedLayoutIndex = (coremanager.selectedLayoutIndex + 1) % 2;
        else
            selectorArea.visible = !selectorArea.visible;
        layoutSelector.clicked();
    }

    function choose(row) {
        coremanager.selectedLayoutIndex = row;
        closeLayoutSelector();
        layoutSelector.clicked();
    }

    implicitWidth: 100
    implicitHeight: 50
    radius: height * Number(settings.value("LayoutSelector/Radius")) / 100
    // The plain colour, used by the drop-down; the selector itself shows the gradient.
    color: settings.value("LayoutSelector/Color")
    border.width: 1
    border.color: settings.value("LayoutSelector/BorderColor")
    gradient: Gradient {
        GradientStop {
            position: 0.0
            color: settings.value("LayoutSelector/Color")
        }
        GradientStop {
            position: 1.0
            color: settings.value("LayoutSelector/Color2", settings.value("QuickBarElement/Color"))
        }
    }
    // Any edge other than the three below opens the drop-down to the right, as "LEFT" does.
    state: ["RIGHT", "TOP", "BOTTOM"].indexOf(selectorState) >= 0 ? selectorState : ""

    states: [
        State {
            name: "RIGHT"
            AnchorChanges {
                target: selectorArea
                anchors.left: undefined
                anchors.right: layoutSelector.left
            }
            PropertyChanges {
                target: selectorArea
                anchors.leftMargin: 0
                anchors.rightMargin: 2 * spacing
            }
        },
        State {
            name: "TOP"
            AnchorChanges {
                target: selectorArea
                anchors.left: undefined
                anchors.bottom: undefined
                anchors.top: layoutSelector.bottom
                anchors.right: layoutSelector.right
            }
            PropertyChanges {
                target: selectorArea
                anchors.leftMargin: 0
                anchors.topMargin: 2 * spacing
            }
        },
        State {
            name: "BOTTOM"
            AnchorChanges {
                target: selectorArea
                anchors.left: undefined
                anchors.bottom: layoutSelector.top
                anchors.right: layoutSelector.right
            }
            PropertyChanges {
                target: selectorArea
                anchors.leftMargin: 0
                anchors.bottomMargin: 2 * spacing
            }
        }
    ]

    // Settings are read once; nothing is reloaded while the system runs.
    QtObject {
        id: d

        readonly property bool labelBold: settings.value("LayoutSelector/LabelBold") == 1
        readonly property string labelFont: settings.value("LayoutSelector/LabelFont")
        readonly property color listColor1: settings.value("LayoutSelector/ListColor1")
        readonly property color listColor2: settings.value("LayoutSelector/ListColor2")
    }

    Text {
        id: label

        objectName: "label"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: layoutSelector.height / 20
        text: settings.value("LayoutSelector/Label")
        color: settings.value("LayoutSelector/LabelColor")
        font.pixelSize: Number(settings.value("LayoutSelector/LabelSizeFactor")) * layoutSelector.height / 4
        font.bold: d.labelBold
        font.family: d.labelFont
        horizontalAlignment: Text.AlignHCenter
        fontSizeMode: Text.HorizontalFit
    }

    Rectangle {
        id: currLayoutBox

        objectName: "currLayoutBox"
        anchors.top: label.bottom
        anchors.topMargin: layoutSelector.height / 20
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 4
        anchors.rightMargin: 4
        anchors.bottomMargin: 4
        radius: layoutSelector.radius - 4
        color: settings.value("LayoutSelector/ValueBackgroundColor")
        border.width: 1
        border.color: layoutSelector.border.color

        Text {
            id: currLayout

            objectName: "currLayout"
            anchors.fill: parent
            text: root.currentLayout ? root.currentLayout.name : ""
            color: settings.value("LayoutSelector/ValueColor")
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: layoutSelector.height / 5
            font.bold: d.labelBold
            font.family: d.labelFont
            fontSizeMode: Text.HorizontalFit
        }
    }

    Rectangle {
        id: selectorArea

        objectName: "selectorArea"
        // Opens beside the bar, towards the middle of the screen; the quick bar does not clip.
        anchors.left: layoutSelector.right
        anchors.bottom: layoutSelector.bottom
        anchors.leftMargin: 2 * spacing
        width: 1.5 * layoutSelector.width
        height: layoutsListView.elementHeight * layoutsListView.count
        visible: false
        enabled: visible
        color: layoutSelector.color
        border.width: 1
        border.color: layoutSelector.border.color

        ListView {
            id: layoutsListView

            readonly property real elementHeight: 30

            objectName: "layoutsListView"
            anchors.fill: parent
            interactive: false
            model: root.layoutModel
            currentIndex: coremanager.selectedLayoutIndex

            delegate: Rectangle {
                id: layoutSelectorDelegate

                readonly property bool selected: index === layoutsListView.currentIndex

                width: layoutsListView.width
                height: layoutsListView.elementHeight
                color: selected ? d.listColor1 : d.listColor2

                Text {
                    anchors.centerIn: parent
                    text: model.name
                    color: layoutSelectorDelegate.selected ? d.listColor2 : d.listColor1
                    font.pixelSize: settings.value("QuickBarElement/LabelSize")
                }

                MouseArea {
                    anchors.fill: parent

                    onClicked: layoutSelector.choose(index)
                }
            }
        }
    }

    MouseArea {
        id: maBaseElement

        objectName: "maBaseElement"
        anchors.fill: parent

        onClicked: layoutSelector.toggle()
        // Qt Quick turns a quick second press into a double click, and from a touch screen it
        // cancels that press: the double click stands for the second click.
        onDoubleClicked: layoutSelector.toggle()
    }
}
