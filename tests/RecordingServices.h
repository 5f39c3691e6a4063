// Test doubles for the desktop services: a window that records what the logic shows and asks,
// answering every message box at once, and a settings store held in memory.
#pragma once

#include "Services.h"

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tessera {

struct RecordedMessage {
    std::string text;
    std::string title;
    bool operator==(const RecordedMessage&) const = default;
};

class RecordingWindowServices : public IWindowServices {
public:
    void MsgBox(const std::string& text, const std::string& title) override;
    void DoEvents() override;
    void SetCaption(const std::string& caption) override;
    void SetPointer(Pointer pointer) override;
    void SetButtonEnabled(Button button, bool enabled) override;

    // Everything seen so far, in order.
    std::vector<RecordedMessage> messages;
    std::vector<std::string> captions;
    std::vector<Pointer> pointers;
    std::vector<std::pair<Button, bool>> buttonChanges;
    long doEventsCount = 0;

    // The state the window is left in; buttons start enabled and the pointer at its default.
    Pointer pointer = Pointer::Default;
    bool installEnabled = true;
    bool browseEnabled = true;
    const std::string& LastCaption() const;   // empty text when none was set

    // Called on each yield and on each message box (after it is recorded), so a test can act
    // while the logic waits; a hook may throw to stop the logic there.
    std::function<void()> onDoEvents;
    std::function<void(const RecordedMessage&)> onMsgBox;
};

// A settings store in memory, for the logic's tests.
class MemorySettingsStore : public ISettingsStore {
public:
    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

    // Stored values by (application, section, key); tests may read and preset them.
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
    long saveCount = 0;
};

} // namespace tessera
