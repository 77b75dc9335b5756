import QtQuick

// A client's own quick bar element: reports taps as clicks.
Rectangle {
    objectName: "ownElement"

    signal clicked(var pid)
    signal longPressed(var pid)

    color: "green"

    MouseArea {
        anchors.fill: parent
        onClicked: parent.clicked(pid)
    }
}
