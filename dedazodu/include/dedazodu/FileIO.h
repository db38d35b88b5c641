// The trace file channel: one text file per trace log name and library load,
// named "<name>-YYYY-MM-DD [hh-mm-ss].log" in a directory chosen by the
// configured location, numbered "[01]".."[99]" when the name is taken, kept
// open (readable by others) until the channel goes.
//
// Location: "desktop" is the desktop folder (Linux: $HOME/Desktop); "" and
// "current" the executable's directory; a location starting with '.' is
// resolved against the executable's directory and created when missing; any
// other location must exist (a file stands for its directory), else the
// executable's directory is used. Configuration files are written for
// Windows: a backslash in the location is a separator in every build.
//
// A full file name longer than the 255-character name buffer is not cut
// (a cut name could lose its extension or land in another directory): the
// executable's directory is used instead, and when even that is too long the
// channel has no file and its writes return -1.
#pragma once

#include <string>

#include "Interfaces.h"
#include "Locks.h"
#include "platform/file.h"

namespace deDazOdu::File {

constexpr std::size_t FILE_NAME_CHARS = 255;

class CFileIO : public Common::CReference<ILogIO> {
public:
    CFileIO(const wchar_t* name, bool autoflush, const wchar_t* location);
    ~CFileIO() override;

    // Enter / leave the channel's lock: 1 and 0.
    int Lock() override;
    int Unlock() override;
    // UTF-16LE text and CR LF; the text's byte count, or -1 without a file.
    int WriteLine(const wchar_t* text) override;
    // ANSI text (at most 1023 bytes); bytes written, or -1 without a file.
    int Write(const wchar_t* text) override;
    // Flushes an open file when autoflush is set.
    void Flush() override;

    // The current file's full name (empty when none could be formed).
    std::wstring FileName();

    // The directory a location names, with one trailing separator.
    static std::wstring DirectoryFor(const std::wstring& configured);

private:
    bool EnsureOpen();

    std::wstring m_fileName;
    platform::CFile m_file;
    Common::CCriticalSection m_lock;
    bool m_autoflush;
    std::wstring m_location;
};

}  // namespace deDazOdu::File
