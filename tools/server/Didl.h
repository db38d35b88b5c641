// DIDL-Lite, the document a browse answers with: containers for folders and
// video items for recordings, each recording with one resource per profile
// the component offers. Built as a document of its own (every name and
// value escaped once with EscapeMarkup); the SOAP answer escapes it once
// more as its Result.
//
// Choices made here:
// - A folder is an object.container.storageFolder with its childCount and
//   upnp:storageUsed -1 (the class requires the property; the space a folder
//   takes is not worth a walk of the disk).
// - A recording's dc:title is its file name without the extension; dc:date
//   its modification time in the server's local time, without a zone, as
//   DLNA's date form allows and TVs read.
// - duration is written H:MM:SS.mmm: the component's text with the hours'
//   leading zeros dropped. The other media properties are written as the
//   component gives them; a property it leaves out is left out.
// - A resource URL always names its profile (an empty-named one as
//   "?profile="), so each resource plays as the profile it announces even
//   where several are offered. A recording the component offers nothing for
//   has one resource: its plain MIME type, no PN, no time seek, its size.
#pragma once

#include "Library.h"

#include <string>
#include <string_view>
#include <vector>

namespace mediahost::server {

// The whole document for the objects; `host` is the "ADDR:PORT" the request
// reached, for the resource URLs.
std::string DidlDocument(const std::vector<SObject>& objects, std::string_view host);

// The path of the media resource of a recording (path below the folder,
// '/'-joined) as a profile; nullptr: the plain file.
std::string MediaPath(std::string_view relative, const std::string* profile);

// "http-get:*:MIME:" and the fourth field, the text of the
// contentFeatures.dlna.org header for the same profile.
std::string ProtocolInfo(std::string_view mimeType, std::string_view profileName, bool timeSeek);

// "HH:MM:SS.mmm" (hours of any width) as "H:MM:SS.mmm"; empty when the text
// is not of that form.
std::string DidlDuration(std::string_view duration);

}  // namespace mediahost::server
