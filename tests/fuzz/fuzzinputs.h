#ifndef VORLANE_TESTS_FUZZINPUTS_H
#define VORLANE_TESTS_FUZZINPUTS_H

#include <QString>

#include <cstddef>
#include <cstdint>

// One entry point per parser. Each writes the input to a fresh file, runs the parser on it and
// checks what must hold for any input. The result is the first broken rule, or an empty text.
// The libFuzzer wrappers abort on a non-empty result; the replay test reports it.
namespace VorlaneFuzz {

QString checkDesktopEntry(const uint8_t *data, size_t size);
QString checkLayoutFile(const uint8_t *data, size_t size);
QString checkSettingsFile(const uint8_t *data, size_t size);

// Writes data to a new file in a private scratch directory and returns its path. Every call
// gives a new name, so no cache keyed by path can hand back an earlier input.
QString writeScratchFile(const uint8_t *data, size_t size, const char *suffix);
void removeScratchFile(const QString &path);

// Parsers warn about every malformed key; while fuzzing that is only noise and costs time.
void silenceMessages();

} // namespace VorlaneFuzz

#endif // VORLANE_TESTS_FUZZINPUTS_H
