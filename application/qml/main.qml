import QtQuick
import QtQuick.Window
import QtWayland.Compositor
import QtWayland.Compositor.XdgShell
import Kestrix.Vorlane.Core
import Kestrix.Vorlane.Application

WaylandCompositor {
    id: root

    readonly property string quickBarID: "QuickBar"
    readonly property string builtInContainer: "qrc:///Kestrix/Vorlane/Application/SurfaceContainer.qml"
    readonly property alias surfaceModel: surfaces
    readonly property alias layoutModel: layouts
    property var currentLayout: coremanager.layouts[coremanager.selectedLayoutIndex]
    // Everything on the screen; null until buildScene.
    property Item scene: null

    // While a layout change re-places every surface, the keyboard stays where it is and is
    // settled once at the end.
    property bool holdFocus: false
    // The quick bar side; headerClicked() in debug mode moves it around the screen.
    property string quickBarPosition: String(settings.value("Settings/QuickBarPosition"))
    readonly property bool quickBarHidden: settings.value("Settings/DisableQuickBar") == 1
    readonly property real quickBarSize: numberSetting("QuickBar/Size", 12)
    readonly property real screenRotation: {
        const override = multipleOf90(orientationOverride);
        if (!isNaN(override))
            return override;
        const configured = multipleOf90(settings.value("Settings/Orientation"));
        return isNaN(configured) ? 0 : configured;
    }

    // The angle a text or number stands for, or NaN when it is no multiple of 90.
    function multipleOf90(value) {
        if (value === undefined || value === null)
            return NaN;
        const text = String(value).trim();
        if (text === "")
            return NaN;
        const angle = Number(text);
        return isFinite(angle) && angle % 90 === 0 ? angle : NaN;
    }

    // A numeric setting; a value that is no number would turn the whole screen geometry into
    // NaN, so it is reported and replaced by the built-in default.
    function numberSetting(key, fallback) {
        const value = settings.value(key);
        const number = Number(value);
        if (value === undefined || value === null || String(value).trim() === "" || !isFinite(number)) {
            console.warn("Setting " + key + " is not a number: " + value + "; using " + fallback);
            return fallback;
        }
        return number;
    }

    function debug(message) {
        if (debugMode)
            console.debug(message);
    }

    function isUnset(value) {
        return value === undefined || value === null || value === "";
    }

    function lastRegion(entry, layoutId) {
        const value = entry[surfaces.prefixLastRegion + layoutId];
        return isUnset(value) ? "" : String(value);
    }

    function minimizedIn(entry, layoutId) {
        return entry[surfaces.prefixMinimized + layoutId] === 1;
    }

    function requestMinimizedState(client) {
        if (!client || !client.details)
            return;
        switch (client.details.minimizedMode) {
        case Details.MM_RUNNING:
            client.requestExecutionState(Client.ES_RESUME);
            break;
        case Details.MM_PAUSED:
            client.requestExecutionState(Client.ES_PAUSE);
            break;
        default:
            break;
        }
    }

    // The only way an entry moves: into a region of the current layout, or onto the quick bar.
    function setSurfaceRegion(index, region) {
        debug("SurfaceModel: region " + region + " requested for idx " + index);
        if (isUnset(region))
            region = quickBarID;
        region = String(region);

        if (typeof index !== "number" || index < 0 || index >= surfaces.count || index !== Math.floor(index)) {
            if (debugMode)
                console.error("SurfaceModel: No surface with idx " + index + " found!");
            return;
        }
        const entry = surfaces.get(index);
        const layout = currentLayout;
        const layoutId = layout ? layout.id : "";
        moveCounts.set(entry.serial, (moveCounts.get(entry.serial) || 0) + 1);

        if (region === "DEFAULT") {
            region = layout ? layout.defaultRegion : "";
            debug("SurfaceModel: using layout default " + region);
        }
        if (region !== quickBarID && !(layout && layout.regionExists(region))) {
            console.warn("Layout " + (layout ? layout.name : "") + " does not contain a region with id " + region
                         + "! Reverting to QuickBar");
            region = quickBarID;
        }

        if (region === quickBarID) {
            debug("SurfaceModel: minimizing to QuickBar");
            moveEntry(index, entry.currentRegion, quickBarID);
            surfaces.setProperty(index, surfaces.prefixMinimized + layoutId, 1);
            requestMinimizedState(entry.client);
            return;
        }

        const target = coremanager.getRegion(region);
        const conflicts = target ? target.conflictsWith : [region];
        let losers = [];
        for (let c = 0; c < conflicts.length; ++c) {
            const members = placedIn.get(String(conflicts[c]));
            if (members)
                losers = losers.concat(members);
        }
        losers.sort((a, b) => a - b);
        for (let k = 0; k < losers.length; ++k) {
            const i = losers[k];
            if (i === index || (k > 0 && losers[k - 1] === i))
                continue;
            const other = surfaces.get(i);
            debug("SurfaceModel: minimizing client " + other.name + " in conflicting region " + other.currentRegion);
            setSurfaceRegion(i, quickBarID);
            recordDisplacement(entry.serial, other.serial, region);
        }

        debug("SurfaceModel: placing client " + entry.name + " in region " + region);
        if (entry.client)
            entry.client.requestExecutionState(Client.ES_RESUME);
        moveEntry(index, entry.currentRegion, region);
        surfaces.setProperty(index, surfaces.prefixLastRegion + layoutId, region);
        surfaces.setProperty(index, surfaces.prefixMinimized + layoutId, 0);
        if (entry.attention)
            surfaces.setProperty(index, "attention", false);
        focusPlaced(index);
    }

    // The container of entry index, null when there is none.
    function containerAt(index) {
        return scene && index >= 0 && index < scene.containers.count ? scene.containers.itemAt(index) : null;
    }

    // The view of dialog d, null when there is none.
    function dialogViewAt(d) {
        return scene ? scene.dialogViews.itemAt(d) : null;
    }

    // Called once the compositor has answered the clients that connected while it started, so
    // that building the scene and showing the window do not hold up their first answers.
    function buildScene() {
        if (scene)
            return;
        scene = sceneComponent.createObject(win.contentItem);
        if (!scene)
            console.error("The scene could not be built: " + sceneComponent.errorString());
    }

    function isShown(region) {
        return region !== quickBarID && region !== "";
    }

    function configuratorOf(toplevel) {
        return configurators.configuratorOf(toplevel);
    }

    function containerSource(details) {
        const own = details ? details.surfaceContainer : "Default";
        return own === "Default" ? String(settings.value("Components/SurfaceContainer")) : own;
    }

    // A surface that is placed takes the keyboard.
    function focusPlaced(index) {
        const target = holdFocus ? null : focusTargetOf(index);
        if (target)
            target.takeFocus();
    }

    // Who takes the keyboard for entry index: its top-most dialog, else the entry itself; none
    // when its container did not load (nobody would see what is typed).
    function focusTargetOf(index) {
        for (let d = dialogs.count - 1; d >= 0; --d) {
            if (rootEntryOf(d) !== index)
                continue;
            const dialog = dialogViewAt(d);
            if (dialog && dialog.status === Loader.Ready && dialog.configurator)
                return dialog.configurator;
        }
        const container = containerAt(index);
        return container && container.status === Loader.Ready ? container.configurator : null;
    }

    // A tap on an entry with a dialog over it hands the keyboard on to the dialog.
    function focusEntry(index) {
        if (holdFocus || index < 0 || index >= surfaces.count || !isShown(surfaces.get(index).currentRegion))
            return;
        const target = focusTargetOf(index);
        if (target && !target.focused)
            target.takeFocus();
    }

    // A hidden surface gives up the keyboard at once, so that its last configure carries both
    // its new size and its lost activation; who takes the keyboard is settled afterwards.
    function surfaceHidden(configurator) {
        if (!configurator || !configurator.focused)
            return;
        configurator.releaseFocus();
        if (!holdFocus)
            Qt.callLater(refocus, false);
    }

    // Unless a shown surface has the keyboard, it goes to the most recently focused surface
    // still shown; with fallback, else to the last shown one.
    function refocus(fallback) {
        for (let d = 0; d < dialogs.count; ++d) {
            const dialog = dialogViewAt(d);
            if (dialog && dialog.configurator && dialog.configurator.focused && isShown(dialogs.get(d).currentRegion))
                return;
        }
        let candidate = null;
        let candidateIndex = -1;
        for (let i = 0; i < surfaces.count; ++i) {
            const container = containerAt(i);
            const configurator = container && container.status === Loader.Ready ? container.configurator : null;
            if (!configurator || !isShown(surfaces.get(i).currentRegion))
                continue;
            if (configurator.focused)
                return;
            if (!candidate || configurator.focusRank > candidate.focusRank
                    || (fallback && configurator.focusRank === candidate.focusRank)) {
                candidate = configurator;
                candidateIndex = i;
            }
        }
        if (candidate && (candidate.focusRank > 0 || fallback))
            focusTargetOf(candidateIndex).takeFocus();
    }

    // A client asked to be minimised: as a tap on its shown element would do.
    function handleMinimizeRequest(index) {
        if (index >= 0 && index < surfaces.count && isShown(surfaces.get(index).currentRegion))
            setSurfaceRegion(index, quickBarID);
    }

    // Bookkeeping beside the surface model, so that no placement has to walk the whole model:
    // the indices of the entries shown in each region (ascending), the process id of each entry,
    // and the number of top-levels (entries and dialogs) of each process. Maps, so that a region
    // id is plain text whatever it reads ("constructor", "__proto__").
    property var placedIn: new Map()
    property var entryPids: []
    property var entryCounts: new Map()
    // Every entry and dialog has a serial number for good; a dialog names its parent by it, which
    // outlives the parent's objects.
    property int nextSerial: 1
    // Grows whenever an entry or a dialog comes, goes or changes its parent: dialogs find their
    // entry again.
    property int treeRevision: 0
    // Per entry serial: how often it was moved, and the surfaces its placement minimised (the
    // most recent last), to give the region back when it ends.
    property var moveCounts: new Map()
    property var displacements: new Map()
    readonly property int maxDisplacements: 8
    // One process can list this many top-levels; a client that floods the compositor with more
    // would otherwise slow every placement and fill the quick bar.
    readonly property int maxToplevelsPerClient: 32
    property var refusedToplevels: ({ "count": 0, "warnedAt": -Infinity })

    function indexEntry(index, from, to) {
        const old = placedIn.get(from);
        const at = old ? old.indexOf(index) : -1;
        if (at >= 0) {
            old.splice(at, 1);
            if (old.length === 0)
                placedIn.delete(from);
        }
        if (to !== quickBarID) {
            let members = placedIn.get(to);
            if (!members) {
                members = [];
                placedIn.set(to, members);
            }
            let position = members.length;
            while (position > 0 && members[position - 1] > index)
                --position;
            members.splice(position, 0, index);
        }
    }

    function moveEntry(index, from, to) {
        indexEntry(index, from, to);
        surfaces.setProperty(index, "currentRegion", to);
        syncDialogs();
    }

    // False, with a warning at most every ten seconds, when the process has its fill of entries.
    function admitToplevel(pid) {
        if ((entryCounts.get(pid) || 0) < maxToplevelsPerClient)
            return true;
        const refused = refusedToplevels;
        ++refused.count;
        const now = Date.now();
        if (now - refused.warnedAt >= 10000) {
            console.warn("SurfaceModel: process " + pid + " has " + maxToplevelsPerClient
                         + " top-level surfaces; not listing " + refused.count + " more");
            refused.warnedAt = now;
            refused.count = 0;
        }
        return false;
    }

    function countToplevel(pid, change) {
        const count = (entryCounts.get(pid) || 0) + change;
        if (count > 0)
            entryCounts.set(pid, count);
        else
            entryCounts.delete(pid);
        return count;
    }

    function appendEntry(entry) {
        surfaces.append(entry);
        entryPids.push(entry.pid);
        countToplevel(entry.pid, 1);
        ++treeRevision;
    }

    // Removes entry index; true when it was the last top-level of its process.
    function removeEntry(index) {
        const pid = entryPids[index];
        // Only the index: a container whose surface is gone must not be resized (and configure
        // a toplevel that may be gone too).
        indexEntry(index, surfaces.get(index).currentRegion, quickBarID);
        for (const members of placedIn.values()) {
            for (let k = 0; k < members.length; ++k) {
                if (members[k] > index)
                    --members[k];
            }
        }
        entryPids.splice(index, 1);
        surfaces.remove(index);
        ++treeRevision;
        syncDialogs();
        return countToplevel(pid, -1) === 0;
    }

    function handleToplevelCreated(toplevel, xdgSurface) {
        if (!toplevel || !xdgSurface || !xdgSurface.surface || !xdgSurface.surface.client)
            return;
        const pid = xdgSurface.surface.client.processId;
        if (!admitToplevel(pid))
            return;
        if (toplevel.parentToplevel)
            appendDialog(pid, toplevel, xdgSurface, nextSerial++, serialOfToplevel(toplevel.parentToplevel));
        else
            addEntry(pid, toplevel, xdgSurface, nextSerial++);
    }

    // A new entry for a top-level without a parent, placed by its client's description.
    function addEntry(pid, toplevel, xdgSurface, serial) {
        const newClient = coremanager.registerClient(pid);
        const details = newClient ? newClient.details : null;
        const entry = {
            "serial": serial,
            "attention": false,
            "pid": pid,
            "name": details ? details.name : "",
            "icon": details ? details.iconPath : "",
            "shellSurface": xdgSurface,
            "topLevel": toplevel,
            "client": newClient
        };
        const startMinimized = details !== null && details.windowState === Details.WS_MINIMIZED;

        const defaultRegions = details ? details.defaultRegions : {};
        for (const key in defaultRegions) {
            const regionIds = defaultRegions[key];
            const first = regionIds && regionIds.length > 0 ? String(regionIds[0]) : "";
            if (first === "" || first === quickBarID)
                continue;
            entry[surfaces.prefixLastRegion + key] = first;
            if (startMinimized)
                entry[surfaces.prefixMinimized + key] = 1;
        }
        const defaultLine = defaultRegions["DEFAULT"];
        const defaultRegion = defaultLine && defaultLine.length > 0 ? String(defaultLine[0]) : "";
        if (defaultRegion !== "" && defaultRegion !== quickBarID) {
            for (let i = 0; i < layouts.count; ++i) {
                const layoutId = layouts.get(i).id;
                if (!isUnset(entry[surfaces.prefixLastRegion + layoutId]))
                    continue;
                entry[surfaces.prefixLastRegion + layoutId] = defaultRegion;
                if (startMinimized)
                    entry[surfaces.prefixMinimized + layoutId] = 1;
            }
        }
        entry["currentRegion"] = quickBarID;

        // The client learns its size before its container and quick bar element are made; the
        // registry has usually told it already, when the top-level appeared.
        configurators.configureFirst(toplevel);
        const newIndex = surfaces.count;
        appendEntry(entry);

        const last = currentLayout ? lastRegion(entry, currentLayout.id) : "";
        setSurfaceRegion(newIndex, !startMinimized && last !== "" ? last : quickBarID);

        if (debugMode) {
            console.debug("Connected client details:");
            for (const field in entry)
                console.debug(field + ": " + entry[field]);
        }
    }

    function handleLayoutChanged() {
        currentLayout = coremanager.layouts[coremanager.selectedLayoutIndex];
        const layoutId = currentLayout ? currentLayout.id : "";
        holdFocus = true;
        try {
            for (let i = 0; i < surfaces.count; ++i) {
                const entry = surfaces.get(i);
                const last = lastRegion(entry, layoutId);
                setSurfaceRegion(i, !minimizedIn(entry, layoutId) && last !== "" ? last : quickBarID);
            }
        } finally {
            // Whatever went wrong above, placed surfaces must take the keyboard again.
            holdFocus = false;
        }
        // A region id may stand in both layouts with other geometry: a container whose region
        // text stayed the same must still take the new layout's rectangle and stacking number.
        for (let j = 0; j < (scene ? scene.containers.count : 0); ++j) {
            const container = containerAt(j);
            if (container)
                container.refreshRegion();
        }
        refocus(true);
    }

    function handleElementClicked(index) {
        debug("Element idx " + index + " clicked");
        const selecting = scene.selector.currentProcess;
        if (selecting > -1)
            scene.selector.currentProcess = -1;
        const entry = index >= 0 && index < surfaces.count ? surfaces.get(index) : undefined;
        if (!entry) {
            if (debugMode)
                console.error("SurfaceModel: No surface with idx " + index + " found!");
            return;
        }
        if (selecting === entry.pid)
            return;

        const last = currentLayout ? lastRegion(entry, currentLayout.id) : "";
        if (entry.currentRegion !== quickBarID)
            setSurfaceRegion(index, quickBarID);
        else if (last !== "")
            setSurfaceRegion(index, last);
        else if (coremanager.currentRegions.length === 1)
            setSurfaceRegion(index, coremanager.currentRegions[0].id);
        else if (settings.value("Settings/DisableRegionSelect") != 1)
            scene.selector.currentProcess = entry.pid;
        else
            console.error("Client " + entry.name + " has no target region, but region selection is disabled!");
    }

    function handleElementLongPressed(index) {
        if (scene.selector.currentProcess === -1) {
            const entry = index >= 0 && index < surfaces.count ? surfaces.get(index) : undefined;
            if (entry)
                scene.selector.currentProcess = entry.pid;
        } else {
            scene.selector.currentProcess = -1;
        }
    }

    function handleBodyClicked() {
        scene.selector.currentProcess = -1;
    }

    function handleHeaderClicked() {
        if (!debugMode) {
            handleBodyClicked();
            return;
        }
        const cycle = { "LEFT": "TOP", "TOP": "RIGHT", "RIGHT": "BOTTOM", "BOTTOM": "LEFT" };
        quickBarPosition = cycle.hasOwnProperty(quickBarPosition) ? cycle[quickBarPosition] : "LEFT";
    }

    function handleRegionAreaClicked(regionId) {
        const index = entryPids.indexOf(scene.selector.currentProcess);
        if (index >= 0)
            setSurfaceRegion(index, regionId);
        scene.selector.currentProcess = -1;
    }

    function handleSurfaceDestroyed(index) {
        if (index < 0 || index >= surfaces.count)
            return;
        const pid = entryPids[index];
        const entry = surfaces.get(index);
        const serial = entry.serial;
        const region = entry.currentRegion;
        // Its dialogs go with it: hidden (their chain now ends in nothing) and asked to close.
        for (let d = 0; d < dialogs.count; ++d) {
            const dialog = dialogs.get(d);
            if (dialog.parentSerial === serial && dialog.topLevel)
                dialog.topLevel.sendClose();
        }
        // Several top-levels of one process share its Client: it goes only with the last of them.
        if (removeEntry(index))
            coremanager.unregisterClient(pid);
        giveBack(serial, region);
    }

    // Remembers that the placement of entry serial minimised entry victim, shown in region.
    function recordDisplacement(serial, victim, region) {
        let records = displacements.get(serial);
        if (!records) {
            records = [];
            displacements.set(serial, records);
        }
        records.push({ "victim": victim, "stamp": moveCounts.get(victim), "region": region,
                       "layoutId": currentLayout ? currentLayout.id : "" });
        if (records.length > maxDisplacements)
            records.shift();
    }

    // Entry serial, last shown in region, is gone: the surface it displaced there most recently
    // comes back, if it is still minimised from that and nobody has moved it since.
    function giveBack(serial, region) {
        const records = displacements.get(serial) || [];
        displacements.delete(serial);
        moveCounts.delete(serial);
        if (!isShown(region) || !currentLayout)
            return;
        for (let k = records.length - 1; k >= 0; --k) {
            const record = records[k];
            if (record.region !== region || record.layoutId !== currentLayout.id)
                continue;
            const index = entryIndexOfSerial(record.victim);
            if (index < 0 || surfaces.get(index).currentRegion !== quickBarID
                    || moveCounts.get(record.victim) !== record.stamp)
                return;
            const last = lastRegion(surfaces.get(index), currentLayout.id);
            if (last !== "")
                setSurfaceRegion(index, last);
            return;
        }
    }

    // Dialogs: top-levels with a parent. They have no quick bar element and no region; each is
    // shown centred over the entry at the root of its chain of parents, and is hidden, moved and
    // ended with it.

    function entryIndexOfSerial(serial) {
        for (let i = 0; i < surfaces.count; ++i) {
            if (surfaces.get(i).serial === serial)
                return i;
        }
        return -1;
    }

    function dialogIndexOfSerial(serial) {
        for (let d = 0; d < dialogs.count; ++d) {
            if (dialogs.get(d).serial === serial)
                return d;
        }
        return -1;
    }

    // The serial of the entry or dialog of toplevel, 0 when the scene does not list it.
    function serialOfToplevel(toplevel) {
        if (!toplevel)
            return 0;
        for (let i = 0; i < surfaces.count; ++i) {
            if (surfaces.get(i).topLevel === toplevel)
                return surfaces.get(i).serial;
        }
        for (let d = 0; d < dialogs.count; ++d) {
            if (dialogs.get(d).topLevel === toplevel)
                return dialogs.get(d).serial;
        }
        return 0;
    }

    // The entry at the root of dialog d's chain of parents; -1 when the chain ends in a parent
    // that is gone, or runs in a circle.
    function rootEntryOf(d) {
        if (d < 0 || d >= dialogs.count)
            return -1;
        let serial = dialogs.get(d).parentSerial;
        for (let hops = 0; hops <= dialogs.count; ++hops) {
            const index = entryIndexOfSerial(serial);
            if (index >= 0)
                return index;
            const parent = dialogIndexOfSerial(serial);
            if (parent < 0)
                return -1;
            serial = dialogs.get(parent).parentSerial;
        }
        return -1;
    }

    // Each dialog is where the root of its chain is.
    function syncDialogs() {
        for (let d = 0; d < dialogs.count; ++d) {
            const index = rootEntryOf(d);
            const region = index >= 0 ? surfaces.get(index).currentRegion : quickBarID;
            if (dialogs.get(d).currentRegion !== region)
                dialogs.setProperty(d, "currentRegion", region);
        }
    }

    function appendDialog(pid, toplevel, xdgSurface, serial, parentSerial) {
        const client = coremanager.registerClient(pid);
        dialogs.append({
            "serial": serial,
            "parentSerial": parentSerial,
            "pid": pid,
            "name": client && client.details ? client.details.name : "",
            "shellSurface": xdgSurface,
            "topLevel": toplevel,
            "client": client,
            "currentRegion": quickBarID
        });
        countToplevel(pid, 1);
        ++treeRevision;
        syncDialogs();
        dialogArrived(dialogs.count - 1);
    }

    // A dialog over a shown entry takes the keyboard; one whose entry is minimised marks the
    // entry's element until the entry is shown again.
    function dialogArrived(d) {
        const index = rootEntryOf(d);
        if (index < 0)
            return;
        if (!isShown(surfaces.get(index).currentRegion)) {
            surfaces.setProperty(index, "attention", true);
            return;
        }
        const dialog = dialogViewAt(d);
        if (!holdFocus && dialog && dialog.status === Loader.Ready && dialog.configurator)
            dialog.configurator.takeFocus();
    }

    function handleDialogDestroyed(d) {
        if (d < 0 || d >= dialogs.count)
            return;
        const dialog = dialogs.get(d);
        const serial = dialog.serial;
        const parentSerial = dialog.parentSerial;
        const pid = dialog.pid;
        const index = rootEntryOf(d);
        // Its own dialogs now belong to its parent.
        for (let other = 0; other < dialogs.count; ++other) {
            if (dialogs.get(other).parentSerial === serial)
                dialogs.setProperty(other, "parentSerial", parentSerial);
        }
        dialogs.remove(d);
        ++treeRevision;
        syncDialogs();
        if (index >= 0 && surfaces.get(index).attention && !hasDialogs(index))
            surfaces.setProperty(index, "attention", false);
        if (countToplevel(pid, -1) === 0)
            coremanager.unregisterClient(pid);
    }

    function hasDialogs(index) {
        for (let d = 0; d < dialogs.count; ++d) {
            if (rootEntryOf(d) === index)
                return true;
        }
        return false;
    }

    // set_parent after the top-level was listed: a window that gets a parent becomes a dialog,
    // a dialog that loses it an ordinary window; both keep their serial, so dialogs of their
    // own follow them.
    function handleParentChanged(toplevel) {
        if (!toplevel)
            return;
        const parentSerial = serialOfToplevel(toplevel.parentToplevel);
        for (let i = 0; i < surfaces.count; ++i) {
            const entry = surfaces.get(i);
            if (entry.topLevel !== toplevel)
                continue;
            if (!toplevel.parentToplevel)
                return;
            const pid = entry.pid;
            const serial = entry.serial;
            const region = entry.currentRegion;
            const xdgSurface = entry.shellSurface;
            removeEntry(i);
            // Its region is free again, as if it had ended.
            giveBack(serial, region);
            appendDialog(pid, toplevel, xdgSurface, serial, parentSerial);
            return;
        }
        for (let d = 0; d < dialogs.count; ++d) {
            const dialog = dialogs.get(d);
            if (dialog.topLevel !== toplevel)
                continue;
            if (toplevel.parentToplevel) {
                dialogs.setProperty(d, "parentSerial", parentSerial);
                ++treeRevision;
                syncDialogs();
                dialogArrived(d);
            } else {
                const pid = dialog.pid;
                const serial = dialog.serial;
                const xdgSurface = dialog.shellSurface;
                dialogs.remove(d);
                countToplevel(pid, -1);
                addEntry(pid, toplevel, xdgSurface, serial);
            }
            return;
        }
    }

    // Each configured component is compiled once, after the first frame, and let go: a URL
    // that does not load is reported at start, not first when the component is needed. The
    // scene owns each check until it is done, so that one still loading when the program quits
    // goes with the scene, not with the engine's collector after the loader is gone.
    function checkComponents() {
        const keys = ["Components/QuickBar", "Components/QuickBarElement", "Components/LayoutSelector",
                      "Components/RegionSelector", "Components/RegionSelectorAreaElement", "Components/SurfaceContainer"];
        for (const key of keys) {
            const url = String(settings.value(key));
            const component = Qt.createComponent(url, Component.Asynchronous, root);
            const report = () => {
                if (component.status === Component.Loading)
                    return;
                if (component.status === Component.Error)
                    console.warn("Component " + key + " (" + url + ") does not load: " + component.errorString().trim());
                component.destroy();
            };
            if (component.status === Component.Loading)
                component.statusChanged.connect(report);
            else
                report();
        }
    }

    WaylandOutput {
        id: waylandOutput

        sizeFollowsWindow: true

        window: Window {
            id: win

            width: 800
            height: 480
            visible: root.scene !== null

            // The scene is built once the clients that connected during start-up have had
            // their first answers (buildScene); the window is shown with it.
            Component {
                id: sceneComponent

                Item {
                    id: screenRotator

                    // What the compositor's own functions reach in the scene.
                    readonly property alias regionArea: regionLayout
                    readonly property alias containers: surfaceContainerSpawner
                    readonly property alias dialogViews: dialogSpawner
                    readonly property alias selector: regionSelector

                    readonly property bool exchanged: rotation === 90 || rotation === 270

                    anchors.centerIn: parent
                    width: exchanged ? win.height : win.width
                    height: exchanged ? win.width : win.height
                    rotation: root.screenRotation

                    Rectangle {
                        id: backgroundSolidColor

                        readonly property var color1: settings.value("Background/Color")
                        readonly property var color2: settings.value("Background/Color2")

                        anchors.fill: parent
                        z: 1

                        gradient: Gradient {
                            GradientStop {
                                position: 0
                                color: String(backgroundSolidColor.color1)
                            }
                            GradientStop {
                                position: 1
                                color: String(root.isUnset(backgroundSolidColor.color2) ? backgroundSolidColor.color1
                                                                                        : backgroundSolidColor.color2)
                            }
                        }
                    }

                    Image {
                        id: backgroundImage

                        readonly property string mode: String(settings.value("Background/FillMode"))

                        anchors.fill: parent
                        anchors.topMargin: screenRotator.height * root.numberSetting("Background/ImageMarginTop", 0) / 100
                        anchors.bottomMargin: screenRotator.height * root.numberSetting("Background/ImageMarginBottom", 0) / 100
                        anchors.leftMargin: screenRotator.width * root.numberSetting("Background/ImageMarginLeft", 0) / 100
                        anchors.rightMargin: screenRotator.width * root.numberSetting("Background/ImageMarginRight", 0) / 100
                        z: 2
                        source: root.isUnset(settings.value("Background/Image")) ? "" : String(settings.value("Background/Image"))
                        fillMode: {
                            switch (mode) {
                            case "CROP":
                                return Image.PreserveAspectCrop;
                            case "STRETCH":
                                return Image.Stretch;
                            case "TILE":
                                return Image.Tile;
                            case "TILEVERTICALLY":
                                return Image.TileVertically;
                            case "TILEHORIZONTALLY":
                                return Image.TileHorizontally;
                            default:
                                return Image.PreserveAspectFit;
                            }
                        }
                    }

                    Item {
                        id: regionLayout

                        anchors.fill: parent
                        anchors.leftMargin: root.quickBarPosition === "LEFT" ? screenRotator.width * root.quickBarSize / 100 : 0
                        anchors.rightMargin: root.quickBarPosition === "RIGHT" ? screenRotator.width * root.quickBarSize / 100 : 0
                        anchors.topMargin: root.quickBarPosition === "TOP" ? screenRotator.height * root.quickBarSize / 100 : 0
                        anchors.bottomMargin: root.quickBarPosition === "BOTTOM" ? screenRotator.height * root.quickBarSize / 100 : 0
                        z: 3
                    }

                    Repeater {
                        id: surfaceContainerSpawner

                        model: surfaces

                        delegate: Loader {
                            id: container

                            property var modelShellSurface: model.shellSurface
                            property var modelToplevel: model.topLevel
                            property string currentRegion: model.currentRegion
                            property rect regionRect: Qt.rect(0, 0, 0, 0)
                            readonly property ToplevelConfigurator configurator: root.configuratorOf(modelToplevel)
                            readonly property real regionY: regionLayout.y + regionLayout.height * regionRect.y
                            readonly property real regionHeight: regionLayout.height * regionRect.height
                            // What is typed into stays above the on-screen keyboard: a region that
                            // reaches below the panel's top is moved up over the regions above it,
                            // as far as the region area allows, and cut at the panel.
                            readonly property bool typing: onScreenKeyboard.shown && configurator !== null
                                                           && configurator.focused

                            // Stacking numbers of regions grow with their count; a surface must
                            // never rise above the region selector however many regions there are.
                            function refreshRegion() {
                                z = typing ? regionSelector.z - 1
                                           : Math.max(0, Math.min(coremanager.getRegionZ(currentRegion), regionSelector.z - 1));
                                regionRect = coremanager.getRegionRect(currentRegion);
                            }

                            x: regionLayout.x + regionLayout.width * regionRect.x
                            y: typing ? Math.max(regionLayout.y, Math.min(regionY, onScreenKeyboard.panelTop - regionHeight)) : regionY
                            width: regionLayout.width * regionRect.width
                            height: typing ? Math.max(0, Math.min(regionHeight, onScreenKeyboard.panelTop - y)) : regionHeight
                            visible: currentRegion !== root.quickBarID && currentRegion !== ""
                            source: root.containerSource(model.client ? model.client.details : null)

                            onTypingChanged: {
                                refreshRegion();
                                root.debug("SurfaceContainer for " + model.name + (typing ? " above" : " freed from")
                                           + " the on-screen keyboard");
                            }
                            onCurrentRegionChanged: {
                                refreshRegion();
                                if (!root.isShown(currentRegion))
                                    root.surfaceHidden(configurator);
                                root.debug("SurfaceContainer for " + model.name + " changed to region " + currentRegion + " (rect: "
                                           + regionRect.x + "," + regionRect.y + "-" + regionRect.width + "," + regionRect.height + ")");
                            }
                            Component.onCompleted: refreshRegion()
                            // A surface that goes leaves the keyboard to the one focused before it.
                            Component.onDestruction: Qt.callLater(root.refocus, false)

                            // Nothing is given back when a binding lets go: the configurator may
                            // since serve another container, and what it had before may be gone.
                            Binding {
                                target: container.configurator
                                restoreMode: Binding.RestoreNone
                                property: "view"
                                value: container.item
                            }
                            // The scene tells the client the size its container declares (which may
                            // be less than the container's area). A container without clientSize
                            // tells its client itself; one that did not load shows nothing, and its
                            // client is told nothing.
                            Binding {
                                target: container.configurator
                                restoreMode: Binding.RestoreNone
                                property: "size"
                                value: container.status === Loader.Ready && container.item.clientSize !== undefined
                                       ? container.item.clientSize : Qt.size(-1, -1)
                            }
                            Binding {
                                target: container.configurator
                                restoreMode: Binding.RestoreNone
                                property: "floating"
                                value: false
                            }
                            // Full screen only where the client's area is the whole screen (the
                            // quick bar hidden, a region of the whole area), else maximised.
                            Binding {
                                target: container.configurator
                                restoreMode: Binding.RestoreNone
                                property: "coversOutput"
                                value: container.status === Loader.Ready && container.item.clientSize !== undefined
                                       && configurators.coversScreen(
                                           Qt.rect(container.x, container.y, container.item.clientSize.width,
                                                   container.item.clientSize.height),
                                           Qt.size(screenRotator.width, screenRotator.height))
                            }

                            Connections {
                                target: container.modelToplevel
                                ignoreUnknownSignals: true

                                function onSetMinimized() {
                                    root.handleMinimizeRequest(index);
                                }
                                function onParentToplevelChanged() {
                                    root.handleParentChanged(container.modelToplevel);
                                }
                            }

                            Connections {
                                target: container.configurator

                                function onFocusedChanged() {
                                    if (container.configurator.focused)
                                        Qt.callLater(root.focusEntry, index);
                                }
                            }

                            Connections {
                                target: container.item
                                ignoreUnknownSignals: true

                                function onSurfaceDestroyed() {
                                    root.handleSurfaceDestroyed(index);
                                }
                            }

                            // Without a loaded container nobody would report the end of the surface,
                            // and the entry with its Client would stay for good.
                            Connections {
                                target: container.status === Loader.Ready || !container.modelShellSurface
                                        ? null : container.modelShellSurface.surface
                                ignoreUnknownSignals: true

                                function onSurfaceDestroyed() {
                                    root.handleSurfaceDestroyed(index);
                                }
                            }
                        }
                    }

                    // The dialogs, each over the container of the entry it belongs to, at its own
                    // size, scaled down where that is larger than the entry's area; always in the
                    // built-in container, which leaves a dialog's size to its client.
                    Repeater {
                        id: dialogSpawner

                        model: dialogs

                        delegate: Loader {
                            id: dialog

                            property var modelShellSurface: model.shellSurface
                            property var modelToplevel: model.topLevel
                            property string currentRegion: model.currentRegion
                            readonly property ToplevelConfigurator configurator: root.configuratorOf(modelToplevel)
                            readonly property Item host: {
                                root.treeRevision;
                                return root.containerAt(root.rootEntryOf(index));
                            }
                            readonly property size surfaceSize: modelShellSurface && modelShellSurface.surface
                                                                ? modelShellSurface.surface.destinationSize : Qt.size(0, 0)
                            // A dialog typed into keeps clear of the on-screen keyboard as a typing
                            // surface does: its entry's area is moved up and cut at the panel.
                            readonly property bool typing: onScreenKeyboard.shown && configurator !== null
                                                           && configurator.focused && host !== null
                            readonly property real areaY: !host ? 0 : typing
                                ? Math.max(regionLayout.y, Math.min(host.y, onScreenKeyboard.panelTop - host.height)) : host.y
                            readonly property real areaHeight: !host ? 0 : typing
                                ? Math.max(0, Math.min(host.height, onScreenKeyboard.panelTop - areaY)) : host.height
                            readonly property real fit: host && surfaceSize.width > 0 && surfaceSize.height > 0
                                                        ? Math.min(1, host.width / surfaceSize.width, areaHeight / surfaceSize.height) : 0

                            x: host ? host.x + Math.round((host.width - width) / 2) : 0
                            y: host ? areaY + Math.round((areaHeight - height) / 2) : 0
                            width: Math.floor(surfaceSize.width * fit)
                            height: Math.floor(surfaceSize.height * fit)
                            // Above its entry; among the dialogs of one entry the later one is above;
                            // typed into, above the other regions as a typing surface is.
                            z: !host ? 0 : typing ? regionSelector.z - 0.5 : host.z + 0.5
                            visible: root.isShown(currentRegion) && host !== null
                            source: root.builtInContainer

                            onCurrentRegionChanged: {
                                if (!root.isShown(currentRegion))
                                    root.surfaceHidden(configurator);
                            }
                            Component.onDestruction: Qt.callLater(root.refocus, false)

                            Binding {
                                target: dialog.configurator
                                restoreMode: Binding.RestoreNone
                                property: "view"
                                value: dialog.item
                            }
                            Binding {
                                target: dialog.configurator
                                restoreMode: Binding.RestoreNone
                                property: "floating"
                                value: true
                            }
                            Binding {
                                target: dialog.item
                                restoreMode: Binding.RestoreNone
                                property: "filled"
                                value: false
                            }

                            Connections {
                                target: dialog.modelToplevel
                                ignoreUnknownSignals: true

                                function onParentToplevelChanged() {
                                    root.handleParentChanged(dialog.modelToplevel);
                                }
                            }

                            Connections {
                                target: dialog.item
                                ignoreUnknownSignals: true

                                function onSurfaceDestroyed() {
                                    root.handleDialogDestroyed(index);
                                }
                            }

                            Connections {
                                target: dialog.status === Loader.Ready || !dialog.modelShellSurface
                                        ? null : dialog.modelShellSurface.surface
                                ignoreUnknownSignals: true

                                function onSurfaceDestroyed() {
                                    root.handleDialogDestroyed(index);
                                }
                            }
                        }
                    }

                    OnScreenKeyboard {
                        id: onScreenKeyboard

                        anchors.left: regionLayout.left
                        anchors.right: regionLayout.right
                        anchors.bottom: regionLayout.bottom
                        // Above every surface container and dialog, below the region selector.
                        z: regionSelector.z - 0.25
                        available: onScreenKeyboardOn
                        compositor: root
                        maximumHeight: screenRotator.height * root.numberSetting("Keyboard/Height", 50) / 100
                        languages: String(settings.value("Keyboard/Languages")).split(",")
                    }

                    Loader {
                        id: regionSelector

                        property int currentProcess: -1

                        anchors.left: regionLayout.left
                        anchors.top: regionLayout.top
                        anchors.topMargin: currentProcess < 0 ? regionLayout.height : 0
                        width: regionLayout.width
                        height: regionLayout.height
                        z: 100
                        // Built when it first opens and kept: many devices never need it, and its
                        // areas and their texts would hold memory from the start.
                        active: false
                        source: String(settings.value("Components/RegionSelector"))

                        onCurrentProcessChanged: {
                            if (currentProcess >= 0)
                                active = true;
                        }

                        Connections {
                            target: regionSelector.item
                            ignoreUnknownSignals: true

                            function onRegionAreaClicked(regionId) {
                                root.handleRegionAreaClicked(regionId);
                            }
                        }
                    }

                    // Menus, drop-downs and tooltips of every client, whole and above everything.
                    PopupLayer {
                        anchors.fill: parent
                        z: 120
                        shell: xdgShell
                    }

                    Item {
                        id: quickbarArea

                        anchors.fill: parent
                        anchors.leftMargin: root.quickBarPosition === "RIGHT" ? screenRotator.width * (100 - root.quickBarSize) / 100 : 0
                        anchors.rightMargin: root.quickBarPosition === "LEFT" ? screenRotator.width * (100 - root.quickBarSize) / 100 : 0
                        anchors.topMargin: root.quickBarPosition === "BOTTOM" ? screenRotator.height * (100 - root.quickBarSize) / 100 : 0
                        anchors.bottomMargin: root.quickBarPosition === "TOP" ? screenRotator.height * (100 - root.quickBarSize) / 100 : 0
                        z: 110

                        states: State {
                            name: "HIDDEN"
                            when: root.quickBarHidden

                            PropertyChanges {
                                target: quickbarArea
                                anchors.topMargin: 0
                                anchors.leftMargin: 0
                                anchors.rightMargin: screenRotator.width
                                anchors.bottomMargin: screenRotator.height
                            }
                            PropertyChanges {
                                target: regionLayout
                                anchors.topMargin: 0
                                anchors.leftMargin: 0
                                anchors.rightMargin: 0
                                anchors.bottomMargin: 0
                            }
                            PropertyChanges {
                                target: quickbar
                                visible: false
                            }
                        }

                        Loader {
                            id: quickbar

                            property bool horizontalFlow: root.quickBarPosition === "TOP" || root.quickBarPosition === "BOTTOM"
                            property string position: root.quickBarPosition

                            anchors.fill: parent
                            // Built in slices between the first frames: clients that start with the
                            // compositor are placed while it is built, and their elements follow.
                            asynchronous: true
                            source: String(settings.value("Components/QuickBar"))

                            Connections {
                                target: quickbar.item
                                ignoreUnknownSignals: true

                                function onHeaderClicked() {
                                    root.handleHeaderClicked();
                                }
                                function onBodyClicked() {
                                    root.handleBodyClicked();
                                }
                                function onElementClicked(index) {
                                    root.handleElementClicked(index);
                                }
                                function onElementLongPressed(index) {
                                    root.handleElementLongPressed(index);
                                }
                            }
                        }
                    }
                }
            }
        }
    }

    ConfiguratorRegistry {
        id: configurators

        shell: xdgShell
        manager: coremanager
        areaSize: root.scene ? Qt.size(root.scene.regionArea.width, root.scene.regionArea.height) : Qt.size(0, 0)
        areaPosition: root.scene ? Qt.point(root.scene.regionArea.x, root.scene.regionArea.y) : Qt.point(0, 0)
        screenSize: root.scene ? Qt.size(root.scene.width, root.scene.height) : Qt.size(0, 0)
        containerSource: String(settings.value("Components/SurfaceContainer"))
        maxPerProcess: root.maxToplevelsPerClient
    }

    // New top-levels are taken from the registry once the requests sent with them are in, so
    // that a dialog's parent is known.
    Connections {
        target: configurators

        function onToplevelReady(toplevel, xdgSurface) {
            // A client quicker than the start-up itself.
            root.buildScene();
            root.handleToplevelCreated(toplevel, xdgSurface);
        }
    }

    XdgShell {
        id: xdgShell
    }

    XdgDecorationManagerV1 {
        preferredMode: XdgToplevel.ServerSideDecoration
    }

    Connections {
        target: coremanager

        function onSelectedLayoutIndexChanged() {
            root.handleLayoutChanged();
        }
    }

    ListModel {
        id: surfaces

        readonly property string prefixLastRegion: "lastFor"
        readonly property string prefixMinimized: "minimizedIn"
    }

    // Top-levels with a parent (see appendDialog).
    ListModel {
        id: dialogs
    }

    ListModel {
        id: layouts

        Component.onCompleted: {
            const all = coremanager.layouts;
            for (let i = 0; i < all.length; ++i)
                append({ "id": all[i].id, "name": all[i].name });
            const wanted = settings.value("Settings/DefaultLayout");
            if (!coremanager.setCurrentLayout(root.isUnset(wanted) ? "" : String(wanted)))
                console.warn("Could not select default layout: " + wanted);
        }
    }
}
