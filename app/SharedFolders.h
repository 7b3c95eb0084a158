#pragma once

#include <QString>

// The installed package gives the writable folders beside bin/ (Config, Log, Temp, Data) to a
// group, with the set-group-id bit, so that every operator in that group shares them. What one
// operator creates there must stay writable for the next, so the process then stops masking
// the group-write bit. A tree without that bit (a build or a private copy) is left as it is.
// The only platform-specific code about file modes lives here.
namespace SharedFolders {

// Checks dataDir; returns true when it is a group-shared folder and group write is now kept.
bool keepGroupWritable(const QString &dataDir);

} // namespace SharedFolders
