// Classification of a host media item into a source profile code, from the
// stream facts the host has attached to it (sizes, frame rate, profile and
// level, bit rates, audio parameters). Nothing is parsed here: every fact is
// read through the host's interfaces, in a fixed order, and compared with
// fixed windows and limits. A getter that fails leaves its preset value, which
// then decides. Nothing here raises.
#pragma once

#include "frame/host_interfaces.h"

namespace source {

// False when the item cannot be classified at all (a null argument, unknown
// size or duration, more than one video stream, no video stream object to be
// had). Otherwise true, with the code (0 = no family) and whether the video
// and the audio were acceptable.
bool ClassifyMediaItem(IHostMediaItem* item, bool* videoOk, bool* audioOk, int* code);

// Set code to 0 first; on acceptance set it to the family's code for the
// packet format and return true.
bool CheckMpeg2Video(IHostMpeg2VideoDescription* video, LONG packetFormat, int& code);
bool CheckAvcVideo(IHostAvcVideoDescription* video, LONG packetFormat, int& code);

// Whether the audio fits the candidate code.
bool CheckAc3Audio(IHostAc3AudioDescription* audio, int code);
bool CheckMpegAudio(IHostMpegAudioDescription* audio, int code);

}  // namespace source
