import QtQuick

// A replacement area with no sub-region container and no signal: the diagram must still be built.
Rectangle {
    property string regionId
    property string regionName

    color: "red"
}
