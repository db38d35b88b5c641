// Source profile codes: which DLNA profile family and packet form a source
// belongs to (1 to 35; 0 = none), and the target descriptions the component
// offers for each.
#pragma once

#include <cstddef>
#include <span>

namespace source {

inline constexpr int SOURCE_PROFILE_NONE = 0;
inline constexpr int SOURCE_PROFILE_FIRST = 1;
inline constexpr int SOURCE_PROFILE_LAST = 35;

inline constexpr wchar_t MIME_TYPE_MPEG[] = L"video/mpeg";
inline constexpr wchar_t MIME_TYPE_TTS[] = L"video/vnd.dlna.mpeg-tts";
inline constexpr wchar_t MIME_TYPE_MPHL_188[] = L"video/x-mp2t-mphl-188";

// True for the AVC sources with valid time stamps in their 192-byte packets
// (codes 26, 29, 32): the converter clears the stamps and reads on the grid.
bool IsTimeStampedAvcSource(int code);
// True for the AVC families (codes 25 to 33), whose entries the profile mode
// names differently.
bool IsAvcSource(int code);

// One target description offered for a source.
struct SProfileEntry {
    const wchar_t* profileName;  // empty for the plain MIME-type entry
    const wchar_t* mimeType;
};

// The entries offered for code, in order; empty outside 1..35.
std::span<const SProfileEntry> EntriesForSourceProfile(int code);

}  // namespace source
