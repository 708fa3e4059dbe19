#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The small value types the whole application uses to talk about dictation. Each enumeration has its
// Chinese display label; schemes, trigger modes and actions also have a stable English id, which is what
// the settings store. Parsing an id is an exact, case-sensitive match. The types keep their short names
// everywhere; label() and id() live beside them in namespace Voxle and are found from their argument.

namespace Voxle {
enum class DictationMode { polish, translate };
enum class HotkeyScheme { fn, modifiers, custom };
enum class RecordingTriggerMode { ptt, toggle };
enum class HotkeyAction { off, record, polish, translate };
enum class SpeechLanguage { autoDetect, zh, en, ja };
enum class TranslationTargetLanguage { zh, en, ja };
enum class VoxleSection { home, account, settings, history, assistant, about };
// Where the dictation is, as the hotkeys, the tray and the windows see it.
enum class AppStatus { idle, recording, processing, error };

QString label(DictationMode v);
QString label(HotkeyScheme v);
QString label(RecordingTriggerMode v);
QString label(HotkeyAction v);
QString label(SpeechLanguage v);
QString label(TranslationTargetLanguage v);
QString label(VoxleSection v);
QString label(AppStatus v);

QString id(HotkeyScheme v);
QString id(RecordingTriggerMode v);
QString id(HotkeyAction v);
} // namespace Voxle
using Voxle::AppStatus;
using Voxle::DictationMode;
using Voxle::HotkeyAction;
using Voxle::HotkeyScheme;
using Voxle::RecordingTriggerMode;
using Voxle::SpeechLanguage;
using Voxle::TranslationTargetLanguage;
using Voxle::VoxleSection;

std::optional<HotkeyScheme> parseHotkeyScheme(const QString &id);
std::optional<RecordingTriggerMode> parseRecordingTriggerMode(const QString &id);
std::optional<HotkeyAction> parseHotkeyAction(const QString &id);
// The translation target is stored by its label.
std::optional<TranslationTargetLanguage> parseTranslationTargetLanguageLabel(const QString &label);

// Declaration order, as pickers list them.
QList<HotkeyScheme> allHotkeySchemes();
QList<RecordingTriggerMode> allRecordingTriggerModes();
QList<HotkeyAction> allHotkeyActions();
QList<SpeechLanguage> allSpeechLanguages();
QList<TranslationTargetLanguage> allTranslationTargetLanguages();
QList<VoxleSection> allSections();

// The recognition language hints: none for automatic detection.
std::optional<QStringList> languageHints(SpeechLanguage language);

// One configured key: a macOS virtual key code and modifier bits (Fn has no bit).
struct HotkeyBinding {
    enum Modifier : int { command = 1, option = 2, control = 4, shift = 8 };

    quint16 keyCode = 0;
    int modifiers = 0; // raw value of the option set

    bool has(Modifier m) const { return (modifiers & m) != 0; }
    bool operator==(const HotkeyBinding &) const = default;

    // Persisted form: {"keyCode": n, "modifiersRawValue": n}.
    QByteArray toStorageJson() const;
    static std::optional<HotkeyBinding> fromStorageJson(const QByteArray &json);
};

// Name of a macOS virtual key code, or "KeyCode(<n>)" for a code outside the table.
QString keyName(quint16 keyCode);
// Modifier symbols in the order ⌃ ⌥ ⇧ ⌘, then the key name, joined by spaces.
QString displayText(const HotkeyBinding &binding, bool shiftForced);
