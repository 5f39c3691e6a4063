// Test doubles for the desktop services.
#include "RecordingServices.h"

namespace tessera {

void RecordingWindowServices::MsgBox(const std::string& text, const std::string& title)
{
    messages.push_back({text, title});
    if (onMsgBox)
        onMsgBox(messages.back());
}

void RecordingWindowServices::DoEvents()
{
    ++doEventsCount;
    if (onDoEvents)
        onDoEvents();
}

void RecordingWindowServices::SetCaption(const std::string& caption) { captions.push_back(caption); }

void RecordingWindowServices::SetPointer(Pointer value)
{
    pointers.push_back(value);
    pointer = value;
}

void RecordingWindowServices::SetButtonEnabled(Button button, bool enabled)
{
    buttonChanges.emplace_back(button, enabled);
    (button == Button::Install ? installEnabled : browseEnabled) = enabled;
}

const std::string& RecordingWindowServices::LastCaption() const
{
    static const std::string none;
    return captions.empty() ? none : captions.back();
}

std::string MemorySettingsStore::GetSetting(const std::string& appName, const std::string& section,
                                            const std::string& key, const std::string& defaultValue)
{
    const auto it = values.find({appName, section, key});
    return it == values.end() ? defaultValue : it->second;
}

void MemorySettingsStore::SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                                      const std::string& value)
{
    values[{appName, section, key}] = value;
    ++saveCount;
}

} // namespace tessera
