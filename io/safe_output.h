// Output files that appear only when complete: the bytes go to a temporary file
// beside the target and are renamed over it at the end, so a failed write leaves
// any earlier file of that name as it was.
#pragma once

#include <cstdio>
#include <string>

class SafeOutput {
public:
    SafeOutput() = default;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    ~SafeOutput() { abandon(); }

    // Opens a binary stream for `name`; null when it cannot be created. A regular
    // file (or a new name) is written under a temporary name in the same folder;
    // anything else (a device, a pipe) and folders that take no new files are
    // written in place.
    std::FILE* open(const std::string& name);
    // Flushes and closes the stream and gives the file its name; false (and no
    // temporary left behind) when any of that fails.
    bool commit();
    // Closes the stream and removes the temporary file, if any.
    void abandon();

private:
    std::FILE* file_ = nullptr;  // the open stream
    std::string temp_;           // temporary file being written, or empty
    std::string target_;         // the name it takes on commit
};
