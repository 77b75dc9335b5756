import QtQuick

// A stand-in quick bar for the benchmark: it times operations inside the compositor, where the
// cost of a layout switch is paid, and writes the results to standard error. Commands are lines
// appended to the file named by the setting "Bench/CommandFile":
//   switch <count> <layout id> <layout id>  alternates between two layouts count times
//   count                                   reports the number of surface entries
Item {
    id: bench

    signal headerClicked
    signal bodyClicked
    signal elementClicked(var index)
    signal elementLongPressed(var index)

    property int executed: 0
    readonly property string commandFile: String(settings.value("Bench/CommandFile"))

    function run(command) {
        const words = command.split(" ");
        if (words[0] === "switch") {
            const count = Number(words[1]);
            const start = Date.now();
            for (let i = 0; i < count; ++i)
                coremanager.setCurrentLayout(words[2 + (i % 2)]);
            console.warn("BENCH switch " + count + " " + (Date.now() - start) + " ms with "
                         + root.surfaceModel.count + " surfaces");
        } else if (words[0] === "count") {
            console.warn("BENCH count " + root.surfaceModel.count);
        }
    }

    Timer {
        interval: 20
        repeat: true
        running: bench.commandFile !== ""
        onTriggered: {
            const request = new XMLHttpRequest();
            request.open("GET", "file://" + bench.commandFile, false);
            request.send();
            const lines = request.responseText.split("\n").filter(line => line.length > 0);
            while (bench.executed < lines.length) {
                const command = lines[bench.executed];
                bench.executed += 1;
                bench.run(command);
                console.warn("BENCH done " + bench.executed);
            }
        }
    }
}
