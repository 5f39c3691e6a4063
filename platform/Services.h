// The desktop services that the logic calls: window caption, pointer, the two buttons, message
// boxes and the event loop; the settings store; facts about the running program and its
// built-in data. The logic sees only these interfaces; Qt, the console and tests answer them.
#pragma once

#include "BuildSettings.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tessera {

enum class Pointer { Default, Hourglass };
enum class Button { Install, BrowseSource };

// What the install procedure needs of the main window. Texts are byte strings (names from
// packages pass through unchanged).
class IWindowServices {
public:
    virtual ~IWindowServices() = default;
    // Shows text (lines separated by CR LF) under title with one OK button and no icon, and
    // returns when the user has closed it.
    virtual void MsgBox(const std::string& text, const std::string& title) = 0;
    // Handles pending window events, then returns.
    virtual void DoEvents() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetPointer(Pointer pointer) = 0;
    virtual void SetButtonEnabled(Button button, bool enabled) = 0;
};

// The per-user settings store, addressed by application name, section and key.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    virtual void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                             const std::string& value) = 0;
};

// Program facts.
inline constexpr std::string_view kProgramTitle = "Tessera";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 2;
inline constexpr int kVersionRevision = 0;
// The main window's caption while no install has run, and again after one failed.
inline constexpr std::string_view kMainCaption = "Orlen's Tessera";
// The contact address, kContactAddress, is a build setting: BuildSettings.h.

// Built-in data, fetched by type and identifier. Items register themselves at start-up from
// the library that embeds them; an unknown item fails with KeyNotFound.
std::span<const std::byte> LoadResData(int id, std::string_view type);
void RegisterResData(int id, std::string_view type, std::span<const std::byte> bytes);

} // namespace tessera
