#ifndef VORLANE_HOOKCHECK_H
#define VORLANE_HOOKCHECK_H

namespace Vorlane::HookCheck {

// How the Qt Wayland Compositor libraries of this process reach a libwayland function.
enum class Binding {
    Ours, // every call Qt makes lands in the program's definition
    Elsewhere, // at least one lands in libwayland or another library
    NotCalled, // Qt does not call the function at all
};

// Reads the bindings the dynamic linker made for Qt's calls (their GOT entries) and compares them
// with the definition in the program's own library, so that a library loaded before it, or a Qt
// that calls other functions, shows up here.
Binding qtBinding(const char *symbol);

// The one warning line for a hook that did not take effect, with what the compositor does
// instead. Every such line begins with "Hook not in effect: ".
void reportIneffective(const char *hook, const char *instead);

} // namespace Vorlane::HookCheck

#endif // VORLANE_HOOKCHECK_H
