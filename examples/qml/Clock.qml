// A small Qt Quick client for the example configuration: the time and date, sized to whatever
// region the compositor gives it. Run it with: qml -platform wayland Clock.qml
import QtQuick
import QtQuick.Window

Window {
    id: window

    property date now: new Date()

    width: 400
    height: 240
    visible: true
    title: qsTr("Clock")
    color: "#1d3b53"

    Timer {
        interval: 1000
        repeat: true
        running: true
        triggeredOnStart: true
        onTriggered: window.now = new Date()
    }

    Column {
        anchors.centerIn: parent
        spacing: window.height * 0.04

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: Qt.formatTime(window.now, "hh:mm:ss")
            color: "#f4d35e"
            font.pixelSize: Math.max(12, Math.min(window.width / 5, window.height / 3))
            font.bold: true
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: Qt.formatDate(window.now, Qt.DefaultLocaleLongDate)
            color: "#e0e0e0"
            font.pixelSize: Math.max(8, Math.min(window.width / 18, window.height / 10))
        }

        // A line to type into: a tap on it brings up the compositor's on-screen keyboard.
        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: window.width * 0.6
            height: note.font.pixelSize * 1.6
            radius: height / 4
            color: note.activeFocus ? "#f0f0f0" : "#2c4c66"

            TextInput {
                id: note

                anchors.fill: parent
                anchors.margins: parent.radius
                verticalAlignment: TextInput.AlignVCenter
                color: activeFocus ? "#1d3b53" : "#e0e0e0"
                font.pixelSize: Math.max(8, Math.min(window.width / 22, window.height / 12))
                text: qsTr("Note")
            }
        }
    }
}
