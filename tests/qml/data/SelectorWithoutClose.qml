import QtQuick

// A replacement layout selector that reports clicks but cannot be closed from outside.
Rectangle {
    signal clicked

    implicitWidth: 60
    implicitHeight: 40

    MouseArea {
        anchors.fill: parent
        onClicked: parent.clicked()
    }
}
