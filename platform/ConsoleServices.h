// The desktop services for the console front-end: captions go to standard output, messages to
// standard error, and nothing waits for a user.
#pragma once

#include "Services.h"

#include <iosfwd>

namespace tessera {

class ConsoleWindowServices : public IWindowServices {
public:
    // quiet drops the caption lines (one per installed file), which would swamp a benchmark.
    explicit ConsoleWindowServices(bool quiet = false);
    // Streams other than the standard ones, for tests.
    ConsoleWindowServices(std::ostream& out, std::ostream& err, bool quiet = false);

    // Prints title + ": " + text, with each CR LF of the text as a newline, and returns at once.
    void MsgBox(const std::string& text, const std::string& title) override;
    void DoEvents() override {}
    // Prints the caption as one line.
    void SetCaption(const std::string& caption) override;
    void SetPointer(Pointer) override {}
    void SetButtonEnabled(Button, bool) override {}

private:
    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
    std::string lastCaption_;
};

} // namespace tessera
