// libout: how every program creates its output files.
//
// A regular file (or a new name) is written under a short hidden temporary name in
// the folder of the file it becomes, made durable and renamed over it only when
// complete, so a failed, interrupted or killed write leaves the earlier file as it
// was. A name that exists and is not a regular file (a device, a pipe, a socket) is
// written in place and never renamed over or removed. Symbolic links are followed:
// the file they end at is the one replaced and the links stay. A name that means
// standard output writes to descriptor 1.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

struct OutputRules {
    const char* stdout_word;  // a name meaning standard output besides /dev/stdout, or null
    const char* temp_tag;     // marks the temporary names (".kqtmp")
    mode_t new_mode;          // permissions of a new file, less the umask
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `name` for writing; false with errno set when it cannot be: EACCES for
    // an existing file that may not be written (one without any write permission
    // too), the creation's own errno when no temporary can be made. Nothing is
    // truncated or created under the name itself.
    bool open(const char* name, const OutputRules& rules);
    // The same with a binary stream on the descriptor, owned here; null on failure.
    std::FILE* open_stream(const char* name, const OutputRules& rules);

    int fd() const { return fd_; }
    std::FILE* stream() const { return fp_; }
    bool is_open() const { return fd_ >= 0; }

    // Flushes the stream, puts the bytes on disc, closes, renames the temporary
    // onto the name and puts the folder on disc. False with errno set when any
    // step fails; the temporary is then removed and the earlier file stays, unless
    // only the folder could not be synced (rename_failed() tells the rename apart).
    bool commit();
    bool rename_failed() const { return rename_failed_; }
    // Closes without completing: the temporary, if any, is removed.
    void abandon();

private:
    int fd_ = -1;             // the open descriptor, -1 when none
    std::FILE* fp_ = nullptr; // stream on fd_, when asked for
    int slot_ = -1;           // entry of the temporary in the removal list
    std::string temp_;        // temporary file being written, empty when in place
    std::string target_;      // the file it replaces
    bool rename_failed_ = false;
};

// Called first by every program: descriptors 0, 1 and 2 are opened on /dev/null
// when closed, so no output file ever takes one of them; a write past the file size
// limit fails (EFBIG) instead of killing the process; SIGINT, SIGTERM and SIGHUP
// remove every temporary before they end the process.
void out_start_process();

// 1 when `name` exists and may be opened for reading, told without opening it (a
// pipe would block): the existence test of the overwrite question.
bool out_exists_readable(const char* name);

// 1 when `name` means standard output for writers without a word of their own:
// /dev/stdout, /dev/fd/1 and this process's /proc fd 1.
bool out_names_stdout(const char* name);
