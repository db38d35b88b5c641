// Captures the component's application log in a test: writes a log
// configuration that lets subject "Default" through at the chosen levels next
// to the running test program, creates g_appLog (which finds it), and reads
// back what reached "vesk.log" there. The test program must live in a
// directory of its own (vsk_add_test OWN_DIRECTORY), since the configuration
// and the log file sit beside it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vsktest {

class CAppLogCapture {
public:
    explicit CAppLogCapture(int minLevel = 0, int maxLevel = 4);
    ~CAppLogCapture();
    CAppLogCapture(const CAppLogCapture&) = delete;
    CAppLogCapture& operator=(const CAppLogCapture&) = delete;

    // Every line of "vesk.log" (without CR LF), banner included.
    std::vector<std::string> Lines() const;
    // The text of each line behind its "[date time][pid][tid] " header.
    std::vector<std::string> Messages() const;
    // Messages that contain text.
    std::vector<std::string> MessagesContaining(const std::string& text) const;
    // Forgets what was logged so far.
    void Clear() const;

    std::filesystem::path LogPath() const;

private:
    std::filesystem::path m_directory;
    bool m_comInitialised = false;
};

}  // namespace vsktest
