import QtQuick
import QtQuick.Controls

// A scroll bar of the quick bar's element list. It lives in a file of its own so that the
// controls module is loaded only once the list overflows, not at start-up. The loader that hosts
// it names the list, the side and the object name.
ScrollBar {
    id: scrollBar

    policy: ScrollBar.AlwaysOn

    Component.onCompleted: {
        const host = parent;
        objectName = host.barName;
        if (host.vertical)
            host.list.ScrollBar.vertical = scrollBar;
        else
            host.list.ScrollBar.horizontal = scrollBar;
    }
    // The list outlives its scroll bar and must not keep pointing at it.
    Component.onDestruction: {
        const host = parent;
        if (!host || !host.list)
            return;
        if (host.vertical && host.list.ScrollBar.vertical === scrollBar)
            host.list.ScrollBar.vertical = null;
        else if (!host.vertical && host.list.ScrollBar.horizontal === scrollBar)
            host.list.ScrollBar.horizontal = null;
    }
}
