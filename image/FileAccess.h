// Whole files in and out, for the hex files: read at once with a size limit,
// written so that the old file stays as it was until the new one is complete.
#pragma once

#include <string>

// Reads a whole file; false when it cannot be opened or read (a directory
// included) or is larger than any hex file can sensibly be (64 MB), with the
// system's reason in error.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);
// Writes text to path through a temporary file in the same folder that
// replaces the target only when everything was written and closed; the old
// file stays as it was on any failure. false with the reason in error. An
// existing target that is no regular file (a device, a pipe) is written in
// place instead, never replaced.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);
