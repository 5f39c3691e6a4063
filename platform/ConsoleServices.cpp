// The desktop services for the console front-end.
#include "ConsoleServices.h"

#include <iostream>

namespace tessera {

ConsoleWindowServices::ConsoleWindowServices(bool quiet) : ConsoleWindowServices(std::cout, std::cerr, quiet) {}

ConsoleWindowServices::ConsoleWindowServices(std::ostream& out, std::ostream& err, bool quiet)
    : out_(out), err_(err), quiet_(quiet)
{
}

void ConsoleWindowServices::MsgBox(const std::string& text, const std::string& title)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            shown += '\n';
            ++i;
        } else {
            shown += text[i];
        }
    }
    err_ << title << ": " << shown << '\n' << std::flush;
}

void ConsoleWindowServices::SetCaption(const std::string& caption)
{
    // The idle window's caption, put back after a failure, tells a console nothing; nor does
    // one that did not change (a download's install names it while unpacking and installing).
    if (!quiet_ && caption != kMainCaption && caption != lastCaption_)
        out_ << caption << '\n' << std::flush;   // a long install's progress is seen as it comes
    lastCaption_ = caption;
}

} // namespace tessera
