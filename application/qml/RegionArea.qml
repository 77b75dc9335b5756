import QtQuick

// One region in the region selector's diagram: its name in the label zone and, when it holds
// regions, the row of their areas in its lower half.
Item {
    id: regionArea

    property string regionId
    property string regionName
    readonly property bool hasSubRegions: subRegionParentItem.children.length > 0
    property alias subRegionParent: subRegionParentItem

    signal regionAreaClicked(string regionId)

    Rectangle {
        id: area

        anchors.fill: parent
        anchors.margins: 5
        color: "#77808080"
        border.color: "#77757575"
        border.width: 2

        Item {
            id: labelZone

            objectName: "labelZone"
            anchors.fill: parent
            anchors.bottomMargin: regionArea.hasSubRegions ? area.height / 2 : 0

            Text {
                anchors.centerIn: parent
                text: regionArea.regionName
            }

            MouseArea {
                anchors.fill: parent

                onClicked: regionArea.regionAreaClicked(regionArea.regionId)
                // Qt Quick turns a quick second press into a double click, and from a touch
                // screen it cancels that press: the double click stands for the second click.
                onDoubleClicked: regionArea.regionAreaClicked(regionArea.regionId)
            }
        }

        Item {
            id: subRegionParentItem

            objectName: "subRegionParentItem"
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            anchors.right: parent.right
            height: area.height / 2
            visible: children.length > 0
        }
    }
}
