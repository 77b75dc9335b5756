import QtQuick

// A stand-in region selector for end-to-end tests; the driver quick bar emits its signal.
Item {
    signal regionAreaClicked(string regionId)
}
