#pragma once
// How the program's saves open their files: a file that does not exist is
// created exclusively, so that the save knows it made it (and may hand it to
// the user who ran sudo); one that exists is replaced in place, keeping its
// owner and mode, since the save dialog has already asked.
#include <string>

// The open descriptor (O_WRONLY | O_CLOEXEC), or -1 with errno set. `made`
// tells whether this call created the file.
int OpenForSave(const std::string& path, bool& made);
