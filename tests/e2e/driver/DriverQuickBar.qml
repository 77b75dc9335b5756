import QtQuick

// A stand-in quick bar for end-to-end tests. It offers the quick bar's signals and emits them
// on commands that the test appends to the file named by the setting "Test/CommandFile", one
// per line. Each command is answered on standard error with "DRIVER done <number> <command>".
Item {
    id: driver

    signal headerClicked
    signal bodyClicked
    signal elementClicked(var index)
    signal elementLongPressed(var index)

    property int executed: 0
    readonly property string commandFile: String(settings.value("Test/CommandFile"))

    function say(text) {
        console.log("DRIVER " + text);
    }

    // Geometry to two decimals, so that rounding noise does not matter.
    function rect(item) {
        return [item.x, item.y, item.width, item.height].map(v => Math.round(v * 100) / 100).join(",");
    }

    function dump() {
        say("layout " + (root.currentLayout ? root.currentLayout.id : "none") + " count " + root.surfaceModel.count
            + " dialogs " + dialogs.count
            + " selecting " + regionSelector.currentProcess + " position " + position + " horizontal " + horizontalFlow);
        for (let i = 0; i < root.surfaceModel.count; ++i) {
            const entry = root.surfaceModel.get(i);
            const client = entry.client;
            const item = surfaceContainerSpawner.itemAt(i);
            say("entry " + i + " pid " + entry.pid + " region " + entry.currentRegion + " client "
                + (client ? client.pid + "/" + client.details.name + "/" + client.executionState : "null")
                + " z " + (item ? item.z : "none") + " visible " + (item ? item.visible : "none")
                + " geometry " + (item ? rect(item) : "none") + " surface "
                + (entry.shellSurface && entry.shellSurface.surface
                   ? entry.shellSurface.surface.destinationSize.width + "x" + entry.shellSurface.surface.destinationSize.height
                   : "none") + " attention " + entry.attention);
        }
        for (let d = 0; d < dialogs.count; ++d) {
            const dialog = dialogs.get(d);
            const item = dialogSpawner.itemAt(d);
            say("dialog " + d + " pid " + dialog.pid + " region " + dialog.currentRegion + " root "
                + root.rootEntryOf(d) + " z " + (item ? item.z : "none") + " visible " + (item ? item.visible : "none")
                + " geometry " + (item ? rect(item) : "none") + " focused "
                + (item && item.configurator ? item.configurator.focused : "none"));
        }
        say("regionArea " + rect(regionLayout));
        say("quickbarArea " + rect(quickbarArea)
            + " visible " + quickbar.visible);
        say("rotator " + [screenRotator.width, screenRotator.height, screenRotator.rotation].join(","));
        say("selector " + rect(regionSelector) + "," + regionSelector.z);
    }

    // Runs one command; answers false when the command reports its own end later.
    function run(command, number) {
        const words = command.split(" ");
        switch (words[0]) {
        case "click":
            elementClicked(Number(words[1]));
            break;
        case "longpress":
            elementLongPressed(Number(words[1]));
            break;
        case "header":
            headerClicked();
            break;
        case "body":
            bodyClicked();
            break;
        case "layout":
            say("setCurrentLayout " + coremanager.setCurrentLayout(words[1]));
            break;
        case "region":
            regionSelector.item.regionAreaClicked(words.slice(1).join(" "));
            break;
        case "unregister":
            say("unregister " + words[1] + " " + coremanager.unregisterClient(Number(words[1])));
            break;
        case "dump":
            dump();
            break;
        case "grab":
            driver.Window.contentItem.grabToImage(function (result) {
                say("grabbed " + result.saveToFile(words[1]));
                say("done " + number + " " + command);
            });
            return false;
        default:
            say("unknown " + command);
        }
        return true;
    }

    Timer {
        interval: 20
        repeat: true
        running: driver.commandFile !== "" && driver.commandFile !== "undefined"

        onTriggered: {
            const request = new XMLHttpRequest();
            request.open("GET", "file://" + driver.commandFile, false);
            request.send(null);
            const lines = request.responseText.split("\n");
            // The last piece is incomplete until the test writes its newline.
            for (let i = driver.executed; i < lines.length - 1; ++i) {
                driver.executed = i + 1;
                if (driver.run(lines[i], driver.executed))
                    driver.say("done " + driver.executed + " " + lines[i]);
            }
        }
    }
}
