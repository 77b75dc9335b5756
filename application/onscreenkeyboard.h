#ifndef VORLANE_ONSCREENKEYBOARD_H
#define VORLANE_ONSCREENKEYBOARD_H

class QString;

namespace Vorlane {

class Configuration;

// The compositor's own on-screen keyboard, drawn by Qt Virtual Keyboard inside the scene.
namespace OnScreenKeyboard {

// The configuration file named on the command line, or an empty text for the default; the
// keyboard must be chosen before the GUI application parses the command line itself.
QString configFileArgument(int argc, char *argv[]);

// Selects Qt Virtual Keyboard as the process's input method when the settings want the keyboard
// and the module is installed; must run before the GUI application exists. Returns whether the
// keyboard is on.
bool prepare(const Configuration &configuration);

} // namespace OnScreenKeyboard

} // namespace Vorlane

#endif // VORLANE_ONSCREENKEYBOARD_H
